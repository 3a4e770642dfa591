"""read_lines, read_can and open() against the tool's exports of the same files."""

import io
import json

import numpy as np
import pandas as pd
import pytest

import gcuproto.blackbox as bb
from conftest import SAMPLES, can, line, mixed_log, record, tool

LOGS = {
    "sample": (SAMPLES / "blackbox.bin").read_bytes(),
    "mixed": mixed_log(400),
    # Samples one by one (unpacked) and twice packed, outputs before inputs.
    "odd encodings": record(b"\x08\x01\x10\x05\x10\x06\x18\x02\x22\x01\x03") + record(b"\x12\x01\x01\x12\x01\x02\x08\x09"),
    "empty": b"",
    "CAN only": record(can(1, 2, 0x7E8, b"\x01\x02")),
}


@pytest.mark.parametrize("name", LOGS)
def test_lines_equal_the_csv_export(name, write_log):
    path = write_log(LOGS[name])
    frame = bb.read_lines(path)
    csv = pd.read_csv(io.BytesIO(tool("blackbox", "export", path, "--format", "csv")))
    assert list(frame.columns) == list(csv.columns)
    assert frame.dtypes["seqNo"] == frame.dtypes["timestamp"] == np.uint32
    assert all(dtype in (np.int32, pd.Int32Dtype()) for dtype in frame.dtypes[2:])
    pd.testing.assert_frame_equal(frame.astype("Int64"), csv.astype("Int64"), check_index_type=False)


@pytest.mark.parametrize("name", LOGS)
def test_can_lines_equal_the_json_export(name, write_log):
    path = write_log(LOGS[name])
    rows = [json.loads(text) for text in tool("blackbox", "export", path, "--format", "jsonl").splitlines()]
    rows = [row for row in rows if row["kind"] == "lineCan"]
    as_bytes = bb.read_can(path, data="bytes")
    matrix = bb.read_can(path)
    assert dict(matrix.dtypes) == {**{c: np.uint32 for c in ("seqNo", "timestamp", "canId", "messageId")},
                                   "extended": bool, "dlc": np.uint8, **{f"data{i}": np.uint8 for i in range(8)}}
    assert len(as_bytes) == len(matrix) == len(rows)
    for (_, frame), (_, cells), row in zip(as_bytes.iterrows(), matrix.iterrows(), rows):
        assert [frame[c] for c in ("seqNo", "timestamp", "canId", "messageId", "extended")] == \
               [row[c] for c in ("seqNo", "timestamp", "canId", "messageId", "extended")]
        data = bytes.fromhex(row["data"])
        assert frame["data"] == data
        assert cells["dlc"] == len(data)
        assert bytes(cells[f"data{i}"] for i in range(8)) == data.ljust(8, b"\0")


def test_time_in_seconds_and_picked_channels(write_log):
    path = write_log(LOGS["sample"])
    frame = bb.read_lines(path, ["out1", "in3"], time=True, seconds_per_tick=0.5)
    assert list(frame.columns) == ["seqNo", "timestamp", "out1", "in3", "time"]
    np.testing.assert_array_equal(frame["time"], frame["timestamp"] * 0.5)
    pd.testing.assert_frame_equal(frame[["out1", "in3"]], bb.read_lines(path)[["out1", "in3"]])
    with pytest.raises(ValueError, match="no channel in9"):
        bb.read_lines(path, ["in9"])


def test_long_can_frames_widen_the_matrix_or_come_as_bytes(write_log):
    path = write_log(record(can(1, 1, 1, bytes(range(12)))) + record(can(2, 2, 2, bytes(70))))
    with pytest.raises(ValueError, match="70 data bytes"):
        bb.read_can(path)
    assert list(bb.read_can(path, data="bytes")["data"]) == [bytes(range(12)), bytes(70)]
    fd = write_log(record(can(1, 1, 1, bytes(range(12)))), "fd.bin")
    assert bb.read_can(fd).shape[1] == 6 + 64


@pytest.mark.parametrize("chunksize", [1, 7, 150, 10_000])
@pytest.mark.parametrize("reader", [bb.read_lines, bb.read_can])
def test_chunks_equal_the_whole(reader, chunksize, write_log):
    path = write_log(LOGS["mixed"])
    chunks = list(reader(path, chunksize=chunksize))
    whole = reader(path)
    assert all(len(chunk) == chunksize for chunk in chunks[:-1])
    pd.testing.assert_frame_equal(pd.concat(chunks), whole)


def test_records_in_file_order(write_log):
    data = LOGS["mixed"]
    path = write_log(data)
    records = list(bb.open(path))
    assert [r.offset for r in records][:3] == [0, len(record(bb.blackbox_pb2.BlackboxFileLine.FromString(
        records[0].raw))), records[2].offset]
    assert b"".join(data[r.offset:r.offset + 1] for r in records) == bytes(0x52 if r.kind == "line" else 0x5A
                                                                          for r in records)
    assert [r.message.seqNo for r in records] == [r.seqNo for r in records] == sorted(r.seqNo for r in records)
    assert [r.seqNo for r in bb.open(path, kind="lineCan")] == [r.seqNo for r in records if r.kind == "lineCan"]


GOOD = record(line(1, 10, [1])) + record(can(2, 11, 5)) + record(line(3, 12, [2]))
DAMAGES = {
    # name: (bytes after GOOD, offset of the damage from GOOD's end, lines kept by on_damage="keep")
    "cut short": (record(line(4, 13, [3]))[:-1], 0, [1, 3]),
    "not a record": (b"\x07\x07\x07", 0, [1, 3]),
    "line that does not decode": (b"\x52\x02\x08\x80" + record(line(5, 14, [4])), 0, [1, 3, 5]),
}


@pytest.mark.parametrize("name", DAMAGES)
def test_damage_names_its_offset_after_the_lines_before_it(name, write_log):
    tail, at, kept = DAMAGES[name]
    path = write_log(GOOD + tail)
    offset = len(GOOD) + at

    with pytest.raises(bb.DamagedLogError, match=f"damaged at byte {offset}:") as error:
        bb.read_lines(path)
    assert error.value.offset == offset and list(error.value.partial["seqNo"]) == [1, 3]

    delivered = []
    with pytest.raises(bb.DamagedLogError, match=f"at byte {offset}:"):
        for chunk in bb.read_lines(path, chunksize=1):
            delivered += list(chunk["seqNo"])
    assert delivered == [1, 3]

    records = bb.open(path)
    assert [next(records).seqNo for _ in range(3)] == [1, 2, 3]
    with pytest.raises(bb.DamagedLogError, match=f"at byte {offset}:"):
        next(records)

    frame = bb.read_lines(path, on_damage="keep")
    assert list(frame["seqNo"]) == kept
    assert frame.attrs["damage"][0][0] == offset


def test_unreadable_paths_are_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError, match="missing.bin"):
        bb.read_lines(tmp_path / "missing.bin")
    with pytest.raises(IsADirectoryError):
        bb.read_can(tmp_path)
    with pytest.raises(ValueError, match="on_damage"):
        bb.read_lines(tmp_path, on_damage="ignore")


# Filters, and the same selection made by hand from the whole file; times at 0.001 s a tick.
FILTERS = [
    (dict(start=1.0, stop=2.5), lambda f: (f.timestamp >= 1000) & (f.timestamp < 2500)),
    (dict(start="1000", stop="2500s"), lambda f: (f.timestamp >= 1000) & (f.timestamp < 2500000)),
    (dict(seq=(100, 300)), lambda f: (f.seqNo >= 100) & (f.seqNo <= 300)),
    (dict(seq=(None, 51)), lambda f: f.seqNo <= 51),
    (dict(seq="7"), lambda f: f.seqNo == 7),
    (dict(can_ids=["7E8"]), lambda f: (f.canId == 0x7E8) & ~f.extended),
    (dict(can_ids=["700:700", 0x12]), lambda f: (((f.canId & 0x700) == 0x700) | (f.canId == 0x12)) & ~f.extended),
    (dict(can_ids=[0x12], id_field="messageId"), lambda f: (f.messageId == 0x12) & ~f.extended),
    (dict(can_ids="18DAF110"), lambda f: (f.canId == 0x18DAF110) & f.extended),
    (dict(start=3.01, seq=(0, 1020), can_ids=["7E8"]),
     lambda f: (f.timestamp >= 3010) & (f.seqNo <= 1020) & (f.canId == 0x7E8) & ~f.extended),
]


@pytest.mark.parametrize("options,pick", FILTERS)
def test_filters_select_what_a_hand_selection_does(options, pick, write_log):
    from conftest import can as can_line
    extra = b"".join(record(can_line(1000 + i, 3000 + i, i % 3 and 0x7E8 or 0x18DAF110, b"\x01", extended=i % 3 == 0,
                                     message_id=0x12 * (i % 2))) for i in range(30))
    path = write_log(LOGS["mixed"] + extra)
    frames = [bb.read_can]
    if "can_ids" not in options and "id_field" not in options:
        frames.append(bb.read_lines)
    selected = 0
    for reader in frames:
        whole = reader(path)
        chosen = reader(path, **options)
        expected = whole[pick(whole)].reset_index(drop=True)
        if len(expected) == 0:  # no line, no sample columns
            expected = expected[chosen.columns]
        # A sample that only some lines lack is nullable; the lines chosen may all have it.
        expected = expected.astype(chosen.dtypes.to_dict())
        pd.testing.assert_frame_equal(chosen, expected)
        pd.testing.assert_frame_equal(pd.concat(reader(path, chunksize=9, **options)).reset_index(drop=True), expected)
        selected += len(expected)
    assert 0 < selected == len(list(bb.open(path, **options)))


@pytest.mark.parametrize("options,message", [
    (dict(start="soon"), "start"), (dict(seq="9-x"), "seq"), (dict(can_ids=["8G0"]), "can_ids"),
    (dict(can_ids=[0x800]), "can_ids"), (dict(kind="lines"), "kind"), (dict(seconds_per_tick=0), "seconds_per_tick")])
def test_bad_filters_are_value_errors(options, message, write_log):
    with pytest.raises(ValueError, match=message):
        bb.open(write_log(b""), **options)
