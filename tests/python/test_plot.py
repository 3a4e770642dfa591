"""The plot command's PNG, read back: a square wave's edges in their pixel columns."""

import subprocess
import sys

import numpy as np
import pytest

import gcuproto.blackbox as bb
from conftest import can, line, record

SIGNAL = np.array([0x1F, 0x77, 0xB4]) / 255  # matplotlib's C0, the colour of every signal


def square_wave_log():
    # 1 kHz for 10 s; in0 is a square wave high from 2.0 to 3.5 s and from 6.0 to 8.25 s, and
    # out0 carries a spike one sample wide at 5.0 s; CAN id 7E8 repeats in0 in its byte 1.
    out = bytearray()
    for tick in range(10_000):
        high = 2000 <= tick < 3500 or 6000 <= tick < 8250
        out += record(line(tick, tick, [100 if high else -100], [1000 if tick == 5000 else 0]))
        if tick % 10 == 0:
            out += record(can(tick, tick, 0x7E8, bytes([0, 200 if high else 10])))
    return bytes(out)


EDGES = [2.0, 3.5, 6.0, 8.25]


def signal_columns(png, panel):
    """Per pixel column, the rows of the panel's signal colour (PNG rows top down)."""
    import matplotlib.image
    image = matplotlib.image.imread(png)[:, :, :3]
    signal = np.all(np.abs(image - SIGNAL) < 0.1, axis=2)
    top, bottom = panel
    return signal[top:bottom].sum(axis=0)


def panel_rows(ax, low, high):
    """The PNG rows (top down) from `high` to `low` in the panel's data coordinates."""
    height = ax.figure.bbox.height
    (_, bottom), (_, top) = ax.transData.transform([(0, low), (0, high)])
    return int(height - top), int(height - bottom)


# (the plot's arguments, the same for plot(), the panels of the square wave and of the spike)
PLOTS = [(["--channel", "in0", "--channel", "out0"], dict(channels=["in0", "out0"]), 0, 1),
         (["--channel", "out0", "--can-id", "7E8", "--byte", "1"], dict(channels=["out0"], can=[("7E8", 1)]), 1, 0)]


@pytest.mark.parametrize("args,same,wave,spike", PLOTS)
def test_square_wave_edges_fall_in_their_columns(args, same, wave, spike, write_log, tmp_path):
    log = write_log(square_wave_log())
    png = tmp_path / "plot.png"
    subprocess.run([sys.executable, "-m", "gcuproto", "plot", log, *args, "--from", "0", "--to", "10", "-o", png],
                   check=True)
    figure = bb.plot(log, start=0, stop=10, **same)

    ax = figure.axes[wave]
    low, high = ax.get_lines()[0].get_ydata().min(), ax.get_lines()[0].get_ydata().max()
    top, bottom = panel_rows(ax, low, high)
    tall = np.flatnonzero(signal_columns(png, (top, bottom + 1)) > 0.8 * (bottom - top))
    expected = [ax.transData.transform((edge, 0))[0] for edge in EDGES]
    # Every edge is drawn within a column of its place, and nothing else is drawn across the panel.
    assert all(any(abs(column - e) <= 1 for column in tall) for e in expected), (tall, expected)
    assert all(any(abs(column - e) <= 1 for e in expected) for column in tall), (tall, expected)

    # The one-sample spike survives the reduction to pixel columns.
    ax = figure.axes[spike]
    top, bottom = panel_rows(ax, 0, 1000)
    column = int(ax.transData.transform((5.0, 0))[0])
    assert signal_columns(png, (top, bottom + 1))[column:column + 2].max() > 0.8 * (bottom - top)


def test_plot_refuses_what_it_cannot_draw(write_log, tmp_path):
    log = write_log(square_wave_log())
    run = [sys.executable, "-m", "gcuproto", "plot", log]
    for args, message in [(["--channel", "in7", "-o", tmp_path / "a.png"], "no channel in7"),
                          (["--channel", "in0", "-o", tmp_path / "a.gif"], ".png or .svg"),
                          (["--channel", "in0", "--format", "png", "-o", log], "is the input")]:
        result = subprocess.run(run + args, capture_output=True, text=True)
        assert result.returncode == 1 and message in result.stderr, result.stderr
    assert not (tmp_path / "a.png").exists()
    assert log.read_bytes() == square_wave_log()
