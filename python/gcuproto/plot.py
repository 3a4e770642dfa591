"""Plots of a log's signals against time, one panel per signal.

    fig = gcuproto.blackbox.plot("log.bin", ["in2", "out0"], can=[("7E8", 0)], start=10, stop=20)
    fig.savefig("plot.png")

Every signal is reduced to its minimum and maximum in each pixel column of
its panel before anything is drawn, so a day's log plots in seconds and a
spike one sample wide still shows."""

import numpy as np

from . import blackbox

# Figure size in pixels unless asked otherwise, and the panels' margins.
DEFAULT_WIDTH = 1200
DEFAULT_PANEL_HEIGHT = 220
DPI = 100
_LEFT, _RIGHT = 0.08, 0.98


def parse_can_id(text):
    """A CAN id in hex as candump writes it: three digits for a standard
    frame, more for an extended one. Returns (id, extended)."""
    text = str(text).strip()
    try:
        value = int(text, 16)
    except ValueError:
        raise ValueError(f"CAN id {text!r} is not hexadecimal") from None
    extended = len(text) > 3
    if value >= (1 << 29 if extended else 1 << 11):
        raise ValueError(f"CAN id {text!r} is too large for a{'n extended' if extended else ' standard'} frame")
    return value, extended


def min_max(time, values, start, stop, columns):
    """The signal reduced to `columns` equal slices of [start, stop]: for each
    slice that holds samples, its centre and its minimum and maximum, in the
    order they occur. Returns (x, y) for a line through both per column."""
    order = np.argsort(time, kind="stable")
    time, values = time[order], values[order]
    inside = (time >= start) & (time <= stop)
    time, values = time[inside], values[inside]
    if len(time) == 0:
        return np.empty(0), np.empty(0)
    width = (stop - start) / columns if stop > start else 1.0
    column = np.minimum(((time - start) / width).astype(np.int64), columns - 1)
    first = np.flatnonzero(np.r_[True, column[1:] != column[:-1]])
    last = np.r_[first[1:], len(values)] - 1
    low = np.minimum.reduceat(values, first)
    high = np.maximum.reduceat(values, first)
    rising = values[last] >= values[first]
    x = np.repeat(start + (column[first] + 0.5) * width, 2)
    y = np.empty(2 * len(first), dtype=np.float64)
    y[0::2] = np.where(rising, low, high)
    y[1::2] = np.where(rising, high, low)
    return x, y


def _signals(path, channels, can, seconds_per_tick, on_damage):
    """(label, time in seconds, values) of each signal asked for."""
    signals = []
    if channels:
        lines = blackbox.read_lines(path, list(channels), time=True, seconds_per_tick=seconds_per_tick,
                                    on_damage=on_damage)
        for name in channels:
            values = lines[str(name)]
            if hasattr(values, "array") and hasattr(values.array, "_mask"):
                present = ~values.isna().to_numpy()
                signals.append((str(name), lines["time"].to_numpy()[present],
                                values.to_numpy(dtype=np.float64, na_value=0)[present]))
            else:
                signals.append((str(name), lines["time"].to_numpy(), values.to_numpy(dtype=np.float64)))
    if can:
        frames = blackbox.read_can(path, data="matrix", data_width=64, time=True,
                                   seconds_per_tick=seconds_per_tick, on_damage=on_damage)
        for can_id, byte in can:
            value, extended = parse_can_id(can_id)
            if not 0 <= int(byte) < 64:
                raise ValueError(f"byte {byte}: a CAN frame has bytes 0 to 63")
            chosen = frames[(frames["canId"] == value) & (frames["extended"] == extended)
                            & (frames["dlc"] > int(byte))]
            signals.append((f"{str(can_id).upper()}[{int(byte)}]", chosen["time"].to_numpy(),
                            chosen[f"data{int(byte)}"].to_numpy(dtype=np.float64)))
    return signals


def plot(path, channels=(), can=(), start=None, stop=None, seconds_per_tick=blackbox.DEFAULT_SECONDS_PER_TICK,
         width=DEFAULT_WIDTH, panel_height=DEFAULT_PANEL_HEIGHT, on_damage="raise"):
    """A matplotlib Figure of the signals of the log at `path`: logger
    channels by name ("in2", "out0") and CAN data bytes as (id, byte) pairs
    (("7E8", 0): byte 0 of the frames with id 0x7E8), between `start` and
    `stop` seconds (the whole log by default), `width` pixels wide."""
    from matplotlib.figure import Figure

    if not channels and not can:
        raise ValueError("nothing to plot: give a channel or a CAN id and byte")
    signals = _signals(str(path), channels, can, seconds_per_tick, on_damage)
    times = [t for _, t, _ in signals if len(t)]
    first = min(float(t.min()) for t in times) if times else 0.0
    last = max(float(t.max()) for t in times) if times else 1.0
    start = first if start is None else float(start)
    stop = last if stop is None else float(stop)
    if stop < start:
        raise ValueError(f"the plot ends ({stop} s) before it starts ({start} s)")
    if stop == start:
        stop = start + seconds_per_tick

    figure = Figure(figsize=(width / DPI, panel_height * len(signals) / DPI), dpi=DPI)
    axes = figure.subplots(len(signals), 1, sharex=True, squeeze=False)[:, 0]
    figure.subplots_adjust(left=_LEFT, right=_RIGHT, hspace=0.35)
    columns = max(1, int(round(width * (_RIGHT - _LEFT))))
    for ax, (label, time, values) in zip(axes, signals):
        x, y = min_max(time, values, start, stop, columns)
        # The pixel markers show a lone sample, as CAN frames often are.
        ax.plot(x, y, color="C0", linewidth=1, marker=".", markersize=2, antialiased=False)
        ax.set_ylabel(label)
        ax.set_xlim(start, stop)
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("time (s)")
    return figure
