"""Blackbox logs: records one by one, and logger and CAN lines as DataFrames.

    import gcuproto.blackbox as bb
    for record in bb.open("log.bin"):             # every record, in file order
        print(record.kind, record.seqNo, record.offset, record.message)
    lines = bb.read_lines("log.bin", time=True)   # seqNo, timestamp, in0.., out0.., time
    frames = bb.read_can("log.bin")               # seqNo, timestamp, canId, ..., data0.., dlc
    for chunk in bb.read_lines("day.bin", chunksize=1_000_000):
        ...                                       # in constant memory

The reading is native: the GIL is released while a file is read and the
columns are filled in C++, never one Python object per line.

A damaged log raises DamagedLogError naming the byte offset, after the
complete records before the damage (an iterator yields them first; the error
of a whole read carries them in `partial`). With on_damage="keep" the read
carries on after damage from where records decode and follow each other
again, keeping every complete record, and lists the spans it left out as
(offset, length, reason, lines lost) in `DataFrame.attrs["damage"]` (the
`damage` attribute of open()'s iterator).
"""

import numpy as np
import pandas as pd

from . import _native
from . import blackbox_pb2

__all__ = ["DamagedLogError", "Record", "open", "read_lines", "read_can", "shape", "to_dask", "plot"]

# The kinds are named after the lists of BlackboxFile that hold them.
LINE = "line"
CAN = "lineCan"
_NATIVE_KINDS = {LINE: _native.LOGGER_LINE, CAN: _native.CAN_LINE}
_KIND_NAMES = {value: name for name, value in _NATIVE_KINDS.items()}

# Seconds per time-stamp tick: the unit counts milliseconds.
DEFAULT_SECONDS_PER_TICK = 0.001
# The longest data of a CAN FD frame, and of a classic one.
_CAN_FD_BYTES = 64
_CAN_CLASSIC_BYTES = 8


class DamagedLogError(ValueError):
    """A log that is damaged or cut short at byte `offset`.

    `partial` holds what was read before the damage (a DataFrame of the
    complete lines, for read_lines and read_can without chunksize)."""

    def __init__(self, path, offset, reason, cut_short, partial=None):
        super().__init__(f"{path}: damaged at byte {offset}: {reason}")
        self.path = path
        self.offset = offset
        self.reason = reason
        self.cut_short = cut_short
        self.partial = partial


class Record:
    """One line record: kind ("line" or "lineCan"), seqNo, timestamp, the byte
    offset of its key, its encoded bytes (`raw`) and, decoded on first use,
    its message (`message`: a BlackboxFileLine or BlackboxCandumpFileLine)."""

    __slots__ = ("kind", "seqNo", "timestamp", "offset", "raw", "_message")

    def __init__(self, kind, seq_no, timestamp, offset, raw):
        self.kind = kind
        self.seqNo = seq_no
        self.timestamp = timestamp
        self.offset = offset
        self.raw = raw
        self._message = None

    @property
    def message(self):
        if self._message is None:
            cls = blackbox_pb2.BlackboxFileLine if self.kind == LINE else blackbox_pb2.BlackboxCandumpFileLine
            self._message = cls.FromString(self.raw)
        return self._message

    def __repr__(self):
        return f"Record({self.kind}, seqNo={self.seqNo}, timestamp={self.timestamp}, offset={self.offset})"


def _keep_damaged(on_damage):
    if on_damage not in ("raise", "keep"):
        raise ValueError(f"on_damage: {on_damage!r} is neither 'raise' nor 'keep'")
    return on_damage == "keep"


def _time_text(value):
    """A time for the filter: a number of seconds, or the tool's text ("36000"
    ticks, "36s")."""
    if value is None or isinstance(value, str):
        return value
    if not isinstance(value, (int, float, np.integer, np.floating)) or not np.isfinite(value):
        raise ValueError(f"time {value!r} is not a number of seconds")
    return f"{value!r}s" if isinstance(value, float) else f"{int(value)}s"


def _seq_text(seq):
    """A sequence range: (first, last), both included and either None, one
    number, or the tool's text ("A-B")."""
    if seq is None or isinstance(seq, str):
        return seq
    if isinstance(seq, (int, np.integer)):
        return str(int(seq))
    first, last = seq
    return f"{'' if first is None else int(first)}-{'' if last is None else int(last)}"


def _can_id_text(can_id, extended):
    if isinstance(can_id, str):
        return can_id
    return f"{int(can_id):08X}" if extended else f"{int(can_id):03X}"


def _filter(kind=None, start=None, stop=None, seq=None, can_ids=(), extended=False, id_field="canId",
            seconds_per_tick=DEFAULT_SECONDS_PER_TICK):
    """The tool's line filters: kind, a time window [start, stop) in seconds,
    a seqNo range, CAN ids (any of them, candump's ID[:MASK] or numbers)."""
    if kind is not None and kind not in _NATIVE_KINDS:
        raise ValueError(f"kind: {kind!r} is neither 'line' nor 'lineCan'")
    if id_field not in ("canId", "messageId"):
        raise ValueError(f"id_field: {id_field!r} is neither 'canId' nor 'messageId'")
    if isinstance(can_ids, (str, int, np.integer)):
        can_ids = [can_ids]
    return _native.make_filter(None if kind is None else _NATIVE_KINDS[kind], _time_text(start), _time_text(stop),
                               _seq_text(seq), [_can_id_text(i, extended) for i in can_ids], bool(extended),
                               id_field == "messageId", repr(float(seconds_per_tick)))


def _check_damage(path, native, keep, partial=None):
    """Raises the damage the native reader met, unless it is kept; returns the
    spans left out as (offset, length, reason, lines lost)."""
    damage = native.damage()
    if damage is not None and not keep:
        raise DamagedLogError(path, *damage, partial=partial)
    return list(native.skipped())


class _Records:
    """The iterator open() returns; also a context manager."""

    def __init__(self, path, line_filter, keep):
        self._path = str(path)
        self._keep = keep
        self._native = _native.RecordReader(self._path, line_filter, keep)
        self.damage = []

    def __iter__(self):
        return self

    def __next__(self):
        if self._native is None:
            raise StopIteration
        item = self._native.next()
        if item is None:
            native, self._native = self._native, None
            self.damage = _check_damage(self._path, native, self._keep)
            raise StopIteration
        kind, seq_no, timestamp, offset, raw = item
        return Record(_KIND_NAMES[kind], seq_no, timestamp, offset, raw)

    def close(self):
        self._native = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def open(path, kind=None, *, start=None, stop=None, seq=None, can_ids=(), extended=False, id_field="canId",
         seconds_per_tick=DEFAULT_SECONDS_PER_TICK, on_damage="raise"):  # noqa: A001 - as builtins.open
    """Iterates the line records of the log at `path`, in file order: every
    record, or those of one kind ("line" or "lineCan") and the filters."""
    line_filter = _filter(kind, start, stop, seq, can_ids, extended, id_field, seconds_per_tick)
    return _Records(path, line_filter, _keep_damaged(on_damage))


def _channel_plan(channels, inputs, outputs, path):
    """The sample columns to read as (name, is_output, index), in order."""
    if channels is None:
        return [(f"in{i}", False, i) for i in range(inputs)] + [(f"out{i}", True, i) for i in range(outputs)]
    plan = []
    for name in channels:
        text = str(name)
        output = text.startswith("out")
        number = text[3:] if output else text[2:] if text.startswith("in") else ""
        if not number.isdigit():
            raise ValueError(f"channel {text!r}: a channel is in<N> or out<N>")
        index = int(number)
        if index >= (outputs if output else inputs):
            have = outputs if output else inputs
            raise ValueError(f"{path}: no channel {text}: its lines have at most {have} "
                             f"{'output' if output else 'input'} samples")
        plan.append((text, output, index))
    return plan


def _frame(columns, rows, first_row):
    frame = pd.DataFrame(columns, copy=False)
    frame.index = pd.RangeIndex(first_row, first_row + rows)
    return frame


def _add_time(columns, time, seconds_per_tick):
    if time:
        columns["time"] = columns["timestamp"].astype(np.float64) * seconds_per_tick


class _Reading:
    """Reads a native reader whole or in chunks, into DataFrames built by
    `build(read_result)` -> dict of columns."""

    def __init__(self, path, native, build, keep):
        self.path = path
        self.native = native
        self.build = build
        self.keep = keep

    def whole(self):
        result = self.native.read(self.native.rows_left)
        frame = _frame(self.build(result), result["rows"], 0)
        frame.attrs["damage"] = _check_damage(self.path, self.native, self.keep, partial=frame)
        return frame

    def chunks(self, chunksize):
        first_row = 0
        while first_row == 0 or self.native.rows_left > 0:
            result = self.native.read(chunksize)
            rows = result["rows"]
            if rows == 0 and first_row > 0:
                break
            # Nothing to read still gives one, empty, frame: its columns.
            frame = _frame(self.build(result), rows, first_row)
            first_row += rows
            if self.keep and self.native.rows_left == 0:
                frame.attrs["damage"] = _check_damage(self.path, self.native, True)
            yield frame
            if rows == 0:
                break
        # Damage is raised once every complete line before it is delivered.
        _check_damage(self.path, self.native, self.keep)


def _read(reading, chunksize):
    if chunksize is None:
        return reading.whole()
    chunksize = int(chunksize)
    if chunksize <= 0:
        raise ValueError(f"chunksize: {chunksize} is not a positive number of rows")
    return reading.chunks(chunksize)


def read_lines(path, channels=None, *, start=None, stop=None, seq=None, time=False,
               seconds_per_tick=DEFAULT_SECONDS_PER_TICK, chunksize=None, on_damage="raise"):
    """The logger lines of the log at `path` as a DataFrame.

    Columns: seqNo and timestamp (uint32), one column per sample, in0.. for
    the inputs and out0.. for the outputs (int32; pandas' nullable Int32 for
    a sample that some lines lack), and with `time` the time in seconds
    (float64, timestamp x seconds_per_tick). `channels` picks sample columns
    by name ("in2", "out0"). The filters are the tool's: a time window from
    `start` (included) to `stop` (excluded) in seconds (or the tool's text:
    "36000" ticks, "36s"), a `seq` range (first, last), both included. With
    `chunksize`, an iterator of DataFrames of that many rows at most, read in
    constant memory."""
    return _read(_line_reading(path, channels, start=start, stop=stop, seq=seq, time=time,
                               seconds_per_tick=seconds_per_tick, on_damage=on_damage), chunksize)


def _line_reading(path, channels=None, *, start=None, stop=None, seq=None, time=False,
                  seconds_per_tick=DEFAULT_SECONDS_PER_TICK, on_damage="raise"):
    path = str(path)
    keep = _keep_damaged(on_damage)
    native = _native.LineReader(path, _filter(LINE, start, stop, seq, seconds_per_tick=seconds_per_tick), keep)
    plan = _channel_plan(channels, native.inputs[1], native.outputs[1], path)
    native.select([(output, index) for _, output, index in plan])
    fewest = {False: native.inputs[0], True: native.outputs[0]}

    def build(result):
        rows = result["rows"]
        samples, missing = result["samples"], result["missing"]
        columns = {"seqNo": result["seqNo"][:rows], "timestamp": result["timestamp"][:rows]}
        mask = 0
        for column, (name, output, index) in enumerate(plan):
            values = samples[column, :rows]
            if index < fewest[output]:
                columns[name] = values
            else:
                columns[name] = pd.arrays.IntegerArray(values, missing[mask, :rows])
                mask += 1
        _add_time(columns, time, seconds_per_tick)
        return columns

    return _Reading(path, native, build, keep)


def read_can(path, can_ids=(), *, extended=False, id_field="canId", start=None, stop=None, seq=None,
             data="matrix", data_width=None, time=False, seconds_per_tick=DEFAULT_SECONDS_PER_TICK,
             chunksize=None, on_damage="raise"):
    """The CAN lines of the log at `path` as a DataFrame.

    Columns, of these dtypes whatever the file holds: seqNo, timestamp, canId,
    messageId (uint32), extended (bool), then the data: with data="matrix",
    dlc (uint8, the frame's length) and data0.. (uint8, 0 past the length),
    8 columns when every frame is classic, else 64 (or `data_width`); with
    data="bytes", one data column of bytes. With `time` the time in seconds.
    `can_ids` keeps the frames matching any of them: candump's "ID[:MASK]"
    ("7E8", "7E0:7F0", 8 digits for an extended id) or numbers (extended ones
    with `extended`), compared with canId or, with id_field="messageId", with
    messageId; the other filters are read_lines'. With `chunksize`, an
    iterator of DataFrames in constant memory."""
    return _read(_can_reading(path, can_ids, extended=extended, id_field=id_field, start=start, stop=stop, seq=seq,
                              data=data, data_width=data_width, time=time, seconds_per_tick=seconds_per_tick,
                              on_damage=on_damage), chunksize)


def _can_reading(path, can_ids=(), *, extended=False, id_field="canId", start=None, stop=None, seq=None,
                 data="matrix", data_width=None, time=False, seconds_per_tick=DEFAULT_SECONDS_PER_TICK,
                 on_damage="raise"):
    path = str(path)
    keep = _keep_damaged(on_damage)
    if data not in ("matrix", "bytes"):
        raise ValueError(f"data: {data!r} is neither 'matrix' nor 'bytes'")
    line_filter = _filter(CAN, start, stop, seq, can_ids, extended, id_field, seconds_per_tick)
    native = _native.CanReader(path, line_filter, keep)
    width = 0
    if data == "matrix":
        longest = native.max_data
        if longest > _CAN_FD_BYTES:
            raise ValueError(f"{path}: a CAN line has {longest} data bytes, more than a CAN FD frame's "
                             f"{_CAN_FD_BYTES}: read it with data='bytes'")
        width = data_width if data_width is not None else (
            _CAN_CLASSIC_BYTES if longest <= _CAN_CLASSIC_BYTES else _CAN_FD_BYTES)
        if not longest <= width <= _CAN_FD_BYTES:
            raise ValueError(f"data_width: {width} is not between the longest frame's {longest} and {_CAN_FD_BYTES}")
    native.select(width)

    def build(result):
        rows = result["rows"]
        columns = {name: result[name][:rows] for name in ("seqNo", "timestamp", "canId", "messageId", "extended")}
        if width:
            columns["dlc"] = result["dlc"][:rows]
            for i in range(width):
                columns[f"data{i}"] = result["data"][i, :rows]
        else:
            frames = np.empty(rows, dtype=object)
            frames[:] = result["data"]
            columns["data"] = frames
        _add_time(columns, time, seconds_per_tick)
        return columns

    return _Reading(path, native, build, keep)


def shape(path, kind=LINE, **options):
    """What read_lines (kind="line") or read_can (kind="lineCan") gives for
    `path` with `options`, after one pass over the file that decodes nothing:
    an empty DataFrame of its columns and dtypes, and the number of lines."""
    readings = {LINE: _line_reading, CAN: _can_reading}
    if kind not in readings:
        raise ValueError(f"kind: {kind!r} is neither 'line' nor 'lineCan'")
    reading = readings[kind](path, **options)
    return _frame(reading.build(reading.native.read(0)), 0, 0), reading.native.rows


def to_dask(paths, kind=LINE, **options):
    """A dask DataFrame of many logs, one partition per file, with a `source`
    column naming the file; see gcuproto.fleet."""
    from . import fleet
    return fleet.to_dask(paths, kind=kind, **options)


def plot(path, channels=(), **options):
    """A figure of signals of the log at `path` against time; see gcuproto.plot."""
    from . import plot as plotting
    return plotting.plot(path, channels, **options)
