#!/usr/bin/env python3
"""Prints the comparison table of a gcuproto_bench JSON report.

Usage: table.py REPORT.json

Each cell is the median CPU time of one operation over the report's
repetitions, with its spread (half the range of the repetitions, as a
percentage of the median) and MB/s (10^6 bytes of encoded message per second)
for the workloads of a megabyte or more. The last columns compare like with
like: the library's way that does what the peer does, as the peer's time over
ours (above 1: the library is faster), and, for the blackbox file, each
figure as a fraction of the skip-scan, the limit of any reader that looks at
every field.
"""

import json
import statistics
import sys

IMPLS = ["gcuproto_new", "gcuproto_heap", "gcuproto_arena", "protobuf_c", "protozero"]
HEADERS = ["workload", "gcuproto new", "gcuproto heap", "gcuproto arena", "protobuf-c",
           "protozero", "like for like", "of skip-scan"]

# In run order: (benchmark workload, label, our way that compares like for like).
WORKLOADS = [
    ("ping_round_trip", "ping round trip (Command out, Response in)", "gcuproto_new"),
    ("logger64_parse", "logger Response, 64 samples: parse", "gcuproto_new"),
    ("logger64_serialise", "logger Response, 64 samples: serialise", "gcuproto_heap"),
    ("map32x32_parse", "map Response, 32x32: parse", "gcuproto_new"),
    ("map32x32_serialise", "map Response, 32x32: serialise", "gcuproto_heap"),
    ("firmware1MiB_parse", "firmware file, 1 MiB: parse", "gcuproto_new"),
    ("firmware1MiB_serialise", "firmware file, 1 MiB: serialise", "gcuproto_heap"),
    ("blackbox64MiB_parse", "blackbox, 64 MiB: whole-file parse", "gcuproto_new"),
    ("blackbox64MiB_read", "blackbox, 64 MiB: streaming read", "gcuproto_heap"),
    ("blackbox64MiB_skipscan", "blackbox, 64 MiB: skip-scan (limit)", "protozero"),
]
SKIP_SCAN = "blackbox64MiB_skipscan/protozero"

SCALE_TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    """Returns {run name: (median cpu ns, spread, bytes per op)}, the context
    and the number of repetitions."""
    with open(path) as report_file:
        report = json.load(report_file)
    runs = {}
    for bench in report["benchmarks"]:
        if bench.get("run_type") == "aggregate":
            continue
        name = bench.get("run_name", bench["name"])
        ns = bench["cpu_time"] * SCALE_TO_NS[bench["time_unit"]]
        bytes_per_op = bench.get("bytes_per_second", 0.0) * ns / 1e9
        runs.setdefault(name, []).append((ns, bytes_per_op))
    figures = {}
    repetitions = 1
    for name, samples in runs.items():
        times = [ns for ns, _ in samples]
        median = statistics.median(times)
        spread = (max(times) - min(times)) / 2 / median if median else 0.0
        figures[name] = (median, spread, max(b for _, b in samples))
        repetitions = max(repetitions, len(times))
    return figures, report.get("context", {}), repetitions


def format_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def cell(figure):
    if figure is None:
        return "-"
    ns, spread, bytes_per_op = figure
    text = f"{format_time(ns)} ±{100 * spread:.0f}%"
    if bytes_per_op >= 1 << 20:
        text += f" ({bytes_per_op / ns * 1e3:,.0f} MB/s)"
    return text


def like_for_like(figures, ours, workload):
    mine = figures.get(f"{workload}/{ours}")
    if mine is None or ours == "protozero":
        return "limit" if ours == "protozero" else "-"
    way = ours.replace("gcuproto_", "")
    if workload.endswith("_read"):
        way = "Reader"
    parts = []
    for peer, label in (("protobuf_c", "protobuf-c"), ("protozero", "protozero")):
        theirs = figures.get(f"{workload}/{peer}")
        if theirs:
            parts.append(f"{label} / {way}: {theirs[0] / mine[0]:.2f}")
    return ", ".join(parts) or "-"


def rows(figures):
    skip_scan = figures.get(SKIP_SCAN)
    for workload, label, ours in WORKLOADS:
        cells = {impl: figures.get(f"{workload}/{impl}") for impl in IMPLS}
        if all(f is None for f in cells.values()):
            continue
        mine = figures.get(f"{workload}/{ours}")
        of_limit = "-"
        if workload.startswith("blackbox") and skip_scan and mine:
            of_limit = f"{skip_scan[0] / mine[0]:.2f}"
        yield ([label] + [cell(cells[impl]) for impl in IMPLS] +
               [like_for_like(figures, ours, workload), of_limit])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    figures, context, repetitions = load(sys.argv[1])
    table = [HEADERS] + list(rows(figures))
    widths = [max(len(row[i]) for row in table) for i in range(len(HEADERS))]

    def line(row):
        return "| " + " | ".join(text.ljust(width) for text, width in zip(row, widths)) + " |"

    load_avg = ", ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    print(f"CPU time per operation, median of {repetitions} repetitions ±half their range; "
          f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
          f"load average {load_avg or '?'}")
    print(line(table[0]))
    print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    for row in table[1:]:
        print(line(row))
    print("new: objects made and destroyed in each operation (what protobuf-c's unpack does); "
          "heap: long-lived objects\n(serialisations: the message built once, as for protobuf-c); "
          "arena: objects on an arena reset before each operation.\n"
          "like for like: the peer's time over the library's way named; above 1 = gcuproto faster. "
          "Streaming read: the library's\nReader against a protobuf-c line-by-line reader and a "
          "protozero one (bench/). of skip-scan: the skip-scan's time over\nthe row's like-for-like "
          "time (1 = as fast as visiting every field and decoding none).")


if __name__ == "__main__":
    main()
