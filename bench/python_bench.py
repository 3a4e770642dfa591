#!/usr/bin/env python3
"""Speed and memory of gcuproto.blackbox.read_lines on one generated log.

    /usr/bin/python3 bench/python_bench.py [--build build] [--size-mb 320] [--runs 3]

Compares, on the same file of --size-mb megabytes (four logger lines of 32
input and 8 output samples to one CAN line, as bench/README.md's workload):
  - `gcuproto blackbox export --format csv -o /dev/null`, the tool's own speed;
  - read_lines into a DataFrame, with its peak memory over the interpreter's
    own (pandas imported) against the DataFrame's size;
  - the loop a Python user writes with python3-protobuf alone, parsing each
    record as a BlackboxFileLine (on a prefix of the file: it is slow);
  - read_lines with chunksize on the whole file and on a quarter of it, whose
    peak memory must not grow with the file.
Every figure is the median of --runs runs, each in a fresh interpreter."""

import argparse
import json
import os
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def packed(values):
    body = b"".join(varint(((v << 1) ^ (v >> 31)) & 0xFFFFFFFF) for v in values)
    return varint(len(body)) + body


def generate(path, size):
    """Lines as a writer appends them; samples from a fixed pseudo-random set."""
    rng = random.Random(7)
    blocks = []
    for _ in range(1024):
        inputs = [rng.randrange(-2_000_000, 2_000_000) if rng.random() < 0.125 else rng.randrange(4096)
                  for _ in range(32)]
        outputs = [rng.randrange(-1000, 1000) for _ in range(8)]
        blocks.append((b"\x12" + packed(inputs), b"\x22" + packed(outputs)))
    written = 0
    seq = 1
    with open(path, "wb") as out:
        while written < size:
            chunk = bytearray()
            for i in range(4096):
                inputs, outputs = blocks[(seq * 7) & 1023]
                body = b"\x08" + varint(seq) + inputs + b"\x18" + varint(seq * 2) + outputs
                chunk += b"\x52" + varint(len(body)) + body
                seq += 1
                if i % 4 == 3:
                    can = b"\x08" + varint(seq) + b"\x10" + varint(seq * 2) + b"\x18" + varint(0x7E8) + \
                        b"\x32\x08" + bytes(rng.randrange(256) for _ in range(8))
                    chunk += b"\x5a" + varint(len(can)) + can
                    seq += 1
            out.write(chunk)
            written += len(chunk)


# The measured programs, each run in a fresh interpreter; they print JSON.
READ_LINES = """
import json, sys, time
import gcuproto.blackbox as bb
def status(key):
    for row in open("/proc/self/status"):
        if row.startswith(key):
            return int(row.split()[1]) * 1024
base = status("VmRSS:")
start = time.perf_counter()
if sys.argv[2] == "whole":
    frame = bb.read_lines(sys.argv[1])
    rows, size = len(frame), int(frame.memory_usage(index=True, deep=True).sum())
else:
    rows = size = 0
    for chunk in bb.read_lines(sys.argv[1], chunksize=int(sys.argv[2])):
        rows += len(chunk)
seconds = time.perf_counter() - start
print(json.dumps(dict(seconds=seconds, rows=rows, frame_bytes=size, base_rss=base, peak_rss=status("VmHWM:"))))
"""

PROTOBUF_LOOP = """
import json, sys, time
import pandas as pd
from gcuproto import blackbox_pb2
data = open(sys.argv[1], "rb").read(int(sys.argv[2]))
start = time.perf_counter()
Line = blackbox_pb2.BlackboxFileLine
rows = []
pos, end = 0, len(data)
while pos < end:
    key = data[pos]; pos += 1
    size = shift = 0
    while True:
        byte = data[pos]; pos += 1
        size |= (byte & 0x7F) << shift; shift += 7
        if byte < 0x80: break
    if pos + size > end: break
    if key == 0x52:
        line = Line.FromString(data[pos:pos + size])
        rows.append([line.seqNo, line.timestamp, *line.dataInput, *line.dataOutput])
    pos += size
frame = pd.DataFrame(rows)
print(json.dumps(dict(seconds=time.perf_counter() - start, bytes=pos, rows=len(frame))))
"""


def run_python(build, program, *args):
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    out = subprocess.run([sys.executable, "-c", program, *map(str, args)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def median_of(runs, measure):
    results = [measure() for _ in range(runs)]
    return {key: statistics.median(r[key] for r in results) for key in results[0]}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", type=pathlib.Path)
    parser.add_argument("--size-mb", default=320, type=int)
    parser.add_argument("--loop-mb", default=32, type=int, help="prefix the protobuf loop reads")
    parser.add_argument("--runs", default=3, type=int)
    parser.add_argument("--file", type=pathlib.Path, help="an existing log instead of a generated one")
    args = parser.parse_args()
    build = args.build.resolve()
    tool = build / "tools" / "gcuproto"
    mib = 1 << 20

    with tempfile.TemporaryDirectory(dir=build) as scratch:
        path = args.file or pathlib.Path(scratch) / "bench.bin"
        if not args.file:
            generate(path, args.size_mb * 1_000_000)
        size = path.stat().st_size
        quarter = pathlib.Path(scratch) / "quarter.bin"
        generate(quarter, size // 4)
        quarter_size = quarter.stat().st_size

        def export():
            start = time.perf_counter()
            subprocess.run([tool, "blackbox", "export", path, "--format", "csv", "-o", "/dev/null"], check=True)
            return dict(seconds=time.perf_counter() - start)

        csv = median_of(args.runs, export)
        whole = median_of(args.runs, lambda: run_python(build, READ_LINES, path, "whole"))
        loop = median_of(args.runs, lambda: run_python(build, PROTOBUF_LOOP, path, args.loop_mb * 1_000_000))
        chunked = median_of(args.runs, lambda: run_python(build, READ_LINES, path, 100_000))
        chunked_quarter = median_of(args.runs, lambda: run_python(build, READ_LINES, quarter, 100_000))

    def rate(nbytes, seconds):
        return nbytes / seconds / 1e6

    csv_rate = rate(size, csv["seconds"])
    read_rate = rate(size, whole["seconds"])
    loop_rate = rate(loop["bytes"], loop["seconds"])
    extra = (whole["peak_rss"] - whole["base_rss"] - whole["frame_bytes"]) / mib
    print(f"file: {size / 1e6:.0f} MB, {int(whole['rows'])} logger lines; medians of {args.runs} runs")
    print(f"{'export --format csv -o /dev/null':40} {csv_rate:8.0f} MB/s")
    print(f"{'read_lines to a DataFrame':40} {read_rate:8.0f} MB/s  {read_rate / csv_rate:5.2f}x the CSV export")
    print(f"{'python3-protobuf line loop (prefix)':40} {loop_rate:8.1f} MB/s  read_lines is {read_rate / loop_rate:.0f}x faster")
    print(f"{'read_lines memory':40} DataFrame {whole['frame_bytes'] / mib:.0f} MiB, peak RSS over the "
          f"interpreter's {(whole['peak_rss'] - whole['base_rss']) / mib:.0f} MiB: {extra:+.0f} MiB beyond the frame "
          f"(interpreter with pandas: {whole['base_rss'] / mib:.0f} MiB)")
    for name, result, nbytes in (("whole file", chunked, size), ("a quarter", chunked_quarter, quarter_size)):
        print(f"{'chunksize=100000, ' + name:40} {rate(nbytes, result['seconds']):8.0f} MB/s  peak RSS over the "
              f"interpreter's {(result['peak_rss'] - result['base_rss']) / mib:.0f} MiB")


if __name__ == "__main__":
    main()
