"""The blackbox tool on live logs, pipes, FIFOs, many inputs and filters, as
users run it: the installed tool in GCUPROTO_TOOL, files written here byte by
byte."""
import csv
import io
import os
import random
import select
import signal
import subprocess
import threading
import time

import pytest

TOOL = os.environ.get("GCUPROTO_TOOL", "gcuproto")
# Generous: the tests check that output comes while the input is still open,
# not how fast.
TIMEOUT = 20.0


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def zigzag(v):
    return ((v << 1) ^ (v >> 31)) & 0xFFFFFFFF


def packed(key, values):
    body = b"".join(varint(zigzag(v)) for v in values)
    return bytes([key]) + varint(len(body)) + body if values else b""


def logger(seq, ts, ins, outs=()):
    line = (b"\x08" + varint(seq) if seq else b"") + packed(0x12, ins)
    line += (b"\x18" + varint(ts) if ts else b"") + packed(0x22, list(outs))
    return b"\x52" + varint(len(line)) + line


def can(seq, ts, can_id, data, message_id=0, extended=False):
    line = b"".join(bytes([key]) + varint(v) for key, v in
                    ((0x08, seq), (0x10, ts), (0x18, can_id), (0x20, message_id)) if v)
    line += b"\x28\x01" if extended else b""
    line += b"\x32" + varint(len(data)) + data if data else b""
    return b"\x5A" + varint(len(line)) + line


def run(*args, stdin=None, check=True):
    result = subprocess.run([TOOL, *args], input=stdin, capture_output=True, timeout=120)
    if check:
        assert result.returncode == 0, result.stderr.decode()
    return result


def sample_log(count=30, seed=1):
    rng = random.Random(seed)
    records = []
    for i in range(count):
        if i % 3:
            records.append(logger(i, 10 * i, [rng.randint(-9000, 9000) for _ in range(4)],
                                  [rng.randint(-2**31, 2**31 - 1), i]))
        else:
            records.append(can(i, 10 * i, rng.choice([0x7E8, 0x123]), bytes(rng.randrange(256) for _ in range(8))))
    return records


class LineReader:
    """Lines of a process's stdout as they come, with a deadline."""

    def __init__(self, stream):
        self.stream = stream
        self.buffer = b""

    def lines(self, count):
        deadline = time.monotonic() + TIMEOUT
        while self.buffer.count(b"\n") < count:
            left = deadline - time.monotonic()
            assert left > 0, f"{count} lines expected, came: {self.buffer!r}"
            ready, _, _ = select.select([self.stream], [], [], left)
            if ready:
                chunk = os.read(self.stream.fileno(), 65536)
                assert chunk, f"output ended after {self.buffer!r}"
                self.buffer += chunk
        return self.buffer.split(b"\n")[:count]

    def rest(self):
        while True:
            chunk = os.read(self.stream.fileno(), 65536)
            if not chunk:
                return self.buffer
            self.buffer += chunk


FORMATS = [
    ["--format", "jsonl"],
    ["--format", "csv", "--inputs", "4", "--outputs", "2"],
    ["--format", "csv", "--kind", "can"],
    ["--format", "candump"],
]


def lines_of(fmt, records):
    """How many output lines the records give in a format (header included)."""
    kinds = [r[0] for r in records]
    if "jsonl" in fmt:
        return len(kinds)
    if "candump" in fmt:
        return kinds.count(0x5A)
    return 1 + kinds.count(0x5A if "can" in fmt else 0x52)


@pytest.mark.parametrize("fmt", FORMATS)
def test_follow_writes_each_record_once_it_is_complete(tmp_path, fmt):
    records = sample_log()
    log = tmp_path / "live.bin"
    log.write_bytes(b"".join(records[:4]) + records[4][:3])  # half a record at the end
    process = subprocess.Popen([TOOL, "blackbox", "export", str(log), *fmt, "--follow"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = LineReader(process.stdout)
    try:
        out.lines(lines_of(fmt, records[:4]))
        with open(log, "ab") as f:  # the rest of it, then half of the next
            f.write(records[4][3:] + records[5][:1])
        out.lines(lines_of(fmt, records[:5]))
        with open(log, "ab") as f:
            f.write(records[5][1:] + b"".join(records[6:]))
        out.lines(lines_of(fmt, records))
    finally:
        process.send_signal(signal.SIGINT)
    rest = out.rest()
    assert process.wait(TIMEOUT) == 0, process.stderr.read().decode()
    assert rest == run("blackbox", "export", str(log), *fmt).stdout


def test_follow_stopped_inside_a_record_ends_with_the_last_whole_line(tmp_path):
    records = sample_log(6)
    log = tmp_path / "live.bin"
    log.write_bytes(b"".join(records) + records[2][:-1])
    output = tmp_path / "out.jsonl"
    process = subprocess.Popen([TOOL, "blackbox", "export", str(log), "--format", "jsonl",
                                "--follow", "-o", str(output)], stderr=subprocess.PIPE)
    time.sleep(0.5)
    process.send_signal(signal.SIGTERM)
    assert process.wait(TIMEOUT) == 0, process.stderr.read().decode()
    full = tmp_path / "full.bin"
    full.write_bytes(b"".join(records))
    assert output.read_bytes() == run("blackbox", "export", str(full), "--format", "jsonl").stdout


@pytest.mark.parametrize("fmt", FORMATS[:2])
def test_a_pipe_held_open_gives_each_line_as_its_record_arrives(tmp_path, fmt):
    records = sample_log(6)
    process = subprocess.Popen([TOOL, "blackbox", "export", "-", *fmt],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = LineReader(process.stdout)
    for i in range(1, 4):
        process.stdin.write(records[i])
        process.stdin.flush()
        out.lines(lines_of(fmt, records[1:i + 1]))
    process.stdin.write(b"".join(records[4:]))
    process.stdin.close()
    rest = out.rest()
    assert process.wait(TIMEOUT) == 0
    assert rest == run("blackbox", "export", "-", *fmt, stdin=b"".join(records[1:])).stdout


def test_a_pipe_that_ends_inside_a_record_is_damage_even_when_followed():
    records = sample_log(4)
    result = run("blackbox", "export", "-", "--format", "jsonl", "--follow",
                 stdin=b"".join(records) + records[1][:2], check=False)
    assert result.returncode == 1
    assert b"damaged at byte" in result.stderr


@pytest.mark.parametrize("fmt", [["--format", "csv"], ["--format", "csv", "--kind", "can"], ["--format", "jsonl"]])
def test_csv_from_a_fifo_has_every_row(tmp_path, fmt):
    records = sample_log(200)
    log = tmp_path / "log.bin"
    log.write_bytes(b"".join(records))
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_bytes(log.read_bytes()))
    writer.start()
    result = run("blackbox", "export", str(fifo), *fmt)
    writer.join()
    assert result.stdout == run("blackbox", "export", str(log), *fmt).stdout
    assert result.stdout.count(b"\n") == lines_of(fmt, records)


def test_files_of_different_widths_give_one_table(tmp_path):
    narrow = tmp_path / "narrow.bin"
    wide = tmp_path / "wide.bin"
    narrow.write_bytes(logger(1, 10, [1, -2], [3]) + logger(2, 20, [4]))
    wide.write_bytes(logger(7, 70, [5, 6, 7, 8]) + can(8, 80, 0x123, b"\x01"))
    table = ("seqNo,timestamp,in0,in1,in2,in3,out0,source\n"
             "1,10,1,-2,,,3,{n}\n2,20,4,,,,,{n}\n7,70,5,6,7,8,,{w}\n").format(n=narrow, w=wide)
    fixed = run("blackbox", "export", str(narrow), str(wide), "--format", "csv", "--inputs", "4",
                "--outputs", "1", "--source")
    assert fixed.stdout.decode() == table
    # Without the widths the rows written before the wider line are put right.
    assert run("blackbox", "export", str(narrow), str(wide), "--format", "csv", "--source").stdout == fixed.stdout
    # Read once, from stdin, the rows are collected and put right: the same table.
    piped = run("blackbox", "export", "-", "--format", "csv", stdin=narrow.read_bytes() + wide.read_bytes())
    assert piped.stdout == run("blackbox", "export", str(narrow), str(wide), "--format", "csv").stdout
    assert piped.stdout.decode().splitlines()[0] == "seqNo,timestamp,in0,in1,in2,in3,out0"
    reverse = run("blackbox", "export", str(wide), str(narrow), "--format", "csv", "--source", "--time")
    assert reverse.stdout.decode().splitlines() == [
        "seqNo,timestamp,time,in0,in1,in2,in3,out0,source",
        f"7,70,0.070,5,6,7,8,,{wide}", f"1,10,0.010,1,-2,,,3,{narrow}", f"2,20,0.020,4,,,,,{narrow}"]
    output = tmp_path / "fleet.csv"
    refused = run("blackbox", "export", str(narrow), str(wide), "--format", "csv", "--inputs", "3",
                  "--outputs", "1", "-o", str(output), check=False)
    assert refused.returncode == 1
    assert f"{wide}: line at byte 0: logger line has 4 input and 0 output samples".encode() in refused.stderr
    assert not output.exists()
    assert sorted(os.listdir(tmp_path)) == ["narrow.bin", "wide.bin"]
    # Into a file the rows go as they come, and are put right in place only
    # when a wider line follows: the same table as on stdout, from files or stdin.
    for inputs in ([narrow, wide], [wide, narrow]):
        names = [str(path) for path in inputs]
        expected = run("blackbox", "export", *names, "--format", "csv", "--source").stdout
        run("blackbox", "export", *names, "--format", "csv", "--source", "-o", str(output))
        assert output.read_bytes() == expected
        run("blackbox", "export", "-", "--format", "csv", "-o", str(output),
            stdin=b"".join(path.read_bytes() for path in inputs))
        assert output.read_bytes() == run("blackbox", "export", *names, "--format", "csv").stdout
    assert sorted(os.listdir(tmp_path)) == ["fleet.csv", "narrow.bin", "wide.bin"]


def test_can_csv_reads_back_into_the_records_written(tmp_path):
    rng = random.Random(7)
    records = []
    for i in range(300):
        extended = rng.random() < 0.5
        can_id = rng.randrange(1 << 29) if extended else rng.randrange(1 << 11)
        data = bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 8, 64])))
        records.append(can(rng.randrange(1 << 32), rng.randrange(1 << 32), can_id, data,
                           rng.choice([0, rng.randrange(1 << 32)]), extended))
    records.insert(5, logger(3, 4, [1]))  # left out
    log = tmp_path / "can.bin"
    log.write_bytes(b"".join(records))
    text = run("blackbox", "export", str(log), "--format", "csv", "--kind", "can").stdout.decode()
    rows = list(csv.DictReader(io.StringIO(text)))
    assert list(rows[0]) == ["seqNo", "timestamp", "canId", "messageId", "extended", "dlc", "data"]
    back = []
    for row in rows:
        assert row["extended"] in ("true", "false")
        data = bytes.fromhex(row["data"])
        assert int(row["dlc"]) == len(data)
        back.append(can(int(row["seqNo"]), int(row["timestamp"]), int(row["canId"]), data,
                        int(row["messageId"]), row["extended"] == "true"))
    assert back == [r for r in records if r[0] == 0x5A]


def selection(records, keep):
    return b"".join(r for r in records if keep(r))


def test_tool_filters_select_what_the_options_say(tmp_path):
    records = [logger(1, 100, [1]), can(2, 100, 0x7E8, b"\x01"), can(3, 150, 0x7E0, b"\x02"),
               logger(4, 200, [2]), can(5, 200, 0x18DAF110, b"\x03", extended=True),
               can(6, 250, 0x7E8, b"\x04", message_id=0x7E0)]
    log = tmp_path / "log.bin"
    log.write_bytes(b"".join(records))
    cases = [
        (["--kind", "line"], [0, 3]),
        (["--kind", "can", "--from", "150"], [2, 4, 5]),
        (["--from", "100", "--to", "200"], [0, 1, 2]),       # --from inclusive, --to exclusive
        (["--from", "0.15s", "--to", "0.2s"], [2]),
        (["--from", "1.5s", "--time-scale", "0.01"], [2, 3, 4, 5]),
        (["--seq", "2-4"], [1, 2, 3]),
        (["--seq", "5-"], [4, 5]),
        (["--can-id", "7E8"], [1, 5]),
        (["--can-id", "7E0:7F0", "--to", "250"], [1, 2]),
        (["--can-id", "7E8,123"], [1, 5]),
        (["--can-id", "18DAF110"], [4]),
        (["--can-id", "18DAF110", "--extended"], [4]),
        (["--can-id", "7E0", "--id-field", "messageId"], [5]),
        (["--can-id", "7E8", "--seq", "3-6", "--from", "200"], [5]),
    ]
    for args, expected in cases:
        want = [records[i] for i in expected]
        cat_out = tmp_path / "cat.bin"
        run("blackbox", "cat", str(log), *args, "-o", str(cat_out))
        assert cat_out.read_bytes() == b"".join(want), args
        whole = tmp_path / "want.bin"
        whole.write_bytes(b"".join(want))
        assert run("blackbox", "export", str(log), "--format", "jsonl", *args).stdout == \
            run("blackbox", "export", str(whole), "--format", "jsonl").stdout, args


@pytest.mark.parametrize("args,message", [
    (["--can-id", "800"], "--can-id: '800': 800 does not fit a standard (11-bit) id"),
    (["--can-id", "7G8"], "--can-id: '7G8' is no CAN id filter"),
    (["--from", "1h"], "--from: '1h' is no time"),
    (["--seq", "9-2"], "--seq: '9-2': the range ends before it starts"),
    (["--kind", "line", "--can-id", "7E8"], "--can-id selects CAN lines"),
    (["--extended"], "--extended needs --can-id"),
    (["--time-scale", "0"], "--time-scale: '0' is not a positive decimal"),
    (["--format", "jsonl", "--channels", "in0"], "--channels is only for --format csv"),
    (["--format", "csv", "--inputs", "2"], "--inputs and --outputs go together"),
    (["--format", "csv", "--channels", "in0,x1"], "--channels: 'x1' is no channel"),
    (["--format", "candump", "--source"], "--source is only for --format csv and jsonl"),
    (["--format", "candump", "--start-time", "yesterday"], "--start-time: 'yesterday'"),
    (["--format", "csv", "--follow"], "--follow with --format csv needs --inputs and --outputs"),
])
def test_bad_options_are_usage_errors_naming_the_option(tmp_path, args, message):
    log = tmp_path / "log.bin"
    log.write_bytes(logger(1, 1, [1]))
    if "--format" not in args:
        args = ["--format", "jsonl", *args]
    result = run("blackbox", "export", str(log), *args, check=False)
    assert result.returncode == 2
    assert message in result.stderr.decode()


def test_channels_and_candump_start_time(tmp_path):
    log = tmp_path / "log.bin"
    log.write_bytes(logger(1, 1500, [10, 11, 12], [20]) + logger(2, 1600, [13]) + can(3, 1005, 0x123, b"\xAB"))
    assert run("blackbox", "export", str(log), "--format", "csv", "--channels", "in2,out0,in0").stdout == \
        b"seqNo,timestamp,in2,out0,in0\n1,1500,12,20,10\n2,1600,,,13\n"
    assert run("blackbox", "export", str(log), "--format", "candump", "--start-time", "1700000000").stdout == \
        b"(1700000001.005000) can0 123#AB\n"
    now = run("blackbox", "export", str(log), "--format", "candump", "--start-time", "now").stdout
    assert abs(float(now[1:18]) - 1.005 - time.time()) < 60


def test_cat_follow_copies_records_as_they_come(tmp_path):
    records = sample_log(8)
    log = tmp_path / "live.bin"
    log.write_bytes(b"".join(records[:3]) + records[3][:2])
    output = tmp_path / "copy.bin"
    process = subprocess.Popen([TOOL, "blackbox", "cat", "--follow", str(log), "--kind", "can", "-o", str(output)],
                               stderr=subprocess.PIPE)
    time.sleep(0.3)
    with open(log, "ab") as f:
        f.write(records[3][2:] + b"".join(records[4:]))
    time.sleep(0.5)
    process.send_signal(signal.SIGINT)
    assert process.wait(TIMEOUT) == 0, process.stderr.read().decode()
    assert output.read_bytes() == selection(records, lambda r: r[0] == 0x5A)
