#!/usr/bin/env python3
"""Prints the comparison table of a gcuproto_bench JSON report.

Usage: table.py REPORT.json

Each cell is the median CPU time of one operation over the report's
repetitions (the mean when the report has single runs), with MB/s (10^6
bytes of encoded message per second) for the workloads of a megabyte or
more. The ratio is protobuf-c's time over the best of the library's ways:
above 1 the library is faster.
"""

import json
import sys

IMPLS = ["gcuproto_heap", "gcuproto_new", "gcuproto_arena", "protobuf_c"]
HEADERS = ["workload", "gcuproto heap", "gcuproto new", "gcuproto arena", "protobuf-c",
           "ratio"]

# In run order: (benchmark workload, label, protobuf-c's figure taken from).
WORKLOADS = [
    ("ping_round_trip", "ping round trip (Command out, Response in)", None),
    ("logger64_parse", "logger Response, 64 samples: parse", None),
    ("logger64_serialise", "logger Response, 64 samples: serialise", None),
    ("map32x32_parse", "map Response, 32x32: parse", None),
    ("map32x32_serialise", "map Response, 32x32: serialise", None),
    ("firmware1MiB_parse", "firmware file, 1 MiB: parse", None),
    ("firmware1MiB_serialise", "firmware file, 1 MiB: serialise", None),
    ("blackbox64MiB_parse", "blackbox, 64 MiB: whole-file parse", None),
    ("blackbox64MiB_read", "blackbox, 64 MiB: streaming read", "blackbox64MiB_parse"),
]

SCALE_TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    """Returns {run name: (cpu ns per op, bytes per second)}, the context and
    the number of repetitions."""
    with open(path) as report_file:
        report = json.load(report_file)
    runs = {}
    single = {}
    repetitions = 1
    for bench in report["benchmarks"]:
        repetitions = max(repetitions, bench.get("repetitions", 1))
        name = bench.get("run_name", bench["name"])
        figures = (bench["cpu_time"] * SCALE_TO_NS[bench["time_unit"]],
                   bench.get("bytes_per_second", 0.0))
        if bench.get("run_type") == "aggregate":
            if bench.get("aggregate_name") == "median":
                runs[name] = figures
        else:
            single.setdefault(name, []).append(figures)
    for name, figures in single.items():
        if name not in runs:  # no repetitions: average the runs
            runs[name] = tuple(sum(f[i] for f in figures) / len(figures) for i in range(2))
    return runs, report.get("context", {}), repetitions


def format_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def cell(figures, bytes_per_op):
    if figures is None:
        return "-"
    ns, bytes_per_second = figures
    text = format_time(ns)
    if bytes_per_op >= 1 << 20 and bytes_per_second:
        text += f" ({bytes_per_second / 1e6:,.0f} MB/s)"
    return text


def rows(runs, notes):
    for workload, label, protobuf_c_from in WORKLOADS:
        figures = {impl: runs.get(f"{workload}/{impl}") for impl in IMPLS}
        if protobuf_c_from:
            figures["protobuf_c"] = runs.get(f"{protobuf_c_from}/protobuf_c")
        if all(f is None for f in figures.values()):
            continue
        # bytes per op, from any way's time and throughput
        bytes_per_op = max((f[0] * f[1] / 1e9 for f in figures.values() if f), default=0)
        ours = {impl: f for impl, f in figures.items() if f and impl != "protobuf_c"}
        ratio = "-"
        if ours and figures["protobuf_c"]:
            best = min(ours, key=lambda impl: ours[impl][0])
            ratio = (f"{figures['protobuf_c'][0] / ours[best][0]:.2f}"
                     f" ({best.replace('gcuproto_', '')})")
        note = "*" if protobuf_c_from else ""  # see the footnote
        cells = [cell(figures[impl], bytes_per_op) for impl in IMPLS]
        if figures["protobuf_c"] and note:
            cells[-1] += note
            notes.add(note)
        yield [label] + cells + [ratio]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    runs, context, repetitions = load(sys.argv[1])
    notes = set()
    table = [HEADERS] + list(rows(runs, notes))
    widths = [max(len(row[i]) for row in table) for i in range(len(HEADERS))]

    def line(row):
        return "| " + " | ".join(text.ljust(width) for text, width in zip(row, widths)) + " |"

    load_avg = ", ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    print(f"CPU time per operation, median of {repetitions} repetitions; "
          f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
          f"load average {load_avg or '?'}")
    print(line(table[0]))
    print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    for row in table[1:]:
        print(line(row))
    print("heap: long-lived objects parsed into again; new: objects made and destroyed in each "
          "operation;\narena: objects on an arena reset before each operation. ratio: protobuf-c "
          "time / the library's best (named), above 1 = gcuproto faster.")
    if notes:
        print("* protobuf-c has no streaming reader: its figure is its whole-file parse.")


if __name__ == "__main__":
    main()
