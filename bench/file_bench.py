#!/usr/bin/env python3
"""The gcuproto tool's blackbox paths on a generated file, beside their limits.

Usage: file_bench.py --tool GCUPROTO --helper GCUPROTO_BLACKBOX_BENCH
                     [--mib 1024] [--runs 5] [--dir DIR] [--baseline-tool OLD_GCUPROTO]

Generates a day's log of MIB MiB (and one as large numbered with random 32-bit
sequence numbers), reads both once into the page cache, then runs every path
--runs times, one run of each path after the other in every round, each run a
process of its own. A path's figures are the medians of its runs: CPU time
(user and system, steadier than wall time on a shared machine) with its
spread (half the range of the runs, as a percentage of the median), input MB/s
(10^6 bytes) of CPU and of wall time, the fraction of its limit (the skip-scan
for paths that read every line, cp for those that copy) and the largest peak
resident memory of its runs. With --baseline-tool, the paths also run through
another build of the tool, for the speed-ups against it.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
RSS_LIMIT_MIB = 64


class Path:
    def __init__(self, name, argv, size_of, limit=None, output=None):
        self.name = name
        self.argv = argv
        self.size_of = size_of  # the input file
        self.limit = limit      # name of the path it is measured against
        self.output = output    # a file to remove before each run
        self.cpu = []
        self.wall = []
        self.rss_kib = 0
        self.output_dir = os.path.dirname(size_of)


def run_once(path):
    if path.output and os.path.exists(path.output):
        os.unlink(path.output)
    # A process forked from this one counts this one's memory as its own
    # until it execs; GNU time, small, forks the path and reports its peak
    # resident memory. CPU time comes from wait4, which includes time's child.
    rss_file = path.output_dir + "/rss.txt"
    start = time.monotonic()
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file, *path.argv], stdout=null,
                                 stderr=subprocess.PIPE)
        error = child.stderr.read().decode(errors="replace")
        _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{path.name} failed ({' '.join(path.argv)}): {error.strip()}")
    path.cpu.append(usage.ru_utime + usage.ru_stime)
    path.wall.append(wall)
    with open(rss_file) as f:
        path.rss_kib = max(path.rss_kib, int(f.read().split()[-1]))


def tool_supports(tool, subcommand, option):
    help_text = subprocess.run([tool, "blackbox", subcommand, "--help"], capture_output=True,
                               text=True).stdout
    return option in help_text


def median(values):
    return statistics.median(values)


def spread(values):
    m = median(values)
    return (max(values) - min(values)) / 2 / m if m else 0.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir", default=os.environ.get("TMPDIR", "/tmp"))
    parser.add_argument("--baseline-tool")
    args = parser.parse_args()

    work = os.path.join(args.dir, f"gcuproto_file_bench_{os.getpid()}")
    os.makedirs(work)
    try:
        bench(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bench(args, work):
    day = os.path.join(work, "day.bin")
    scattered = os.path.join(work, "scattered.bin")
    print(f"generating {args.mib} MiB files in {work}...", file=sys.stderr)
    subprocess.run([args.helper, "generate", day, str(args.mib)], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([args.helper, "generate", scattered, str(args.mib), "--random-seq"], check=True,
                   stdout=subprocess.DEVNULL)
    for name in (day, scattered):  # into the page cache
        with open(name, "rb") as f:
            while f.read(8 * MIB):
                pass

    tool = args.tool
    out = os.path.join(work, "out.bin")
    csv_out = os.path.join(work, "out.csv")
    paths = [
        Path("skip-scan, every field (protozero; limit)", [args.helper, "skip-scan", day], day),
        Path("cp (limit)", ["cp", day, out], day, output=out),
        Path("streaming read, lines decoded (Reader)", [args.helper, "read", day], day, "skip-scan"),
        Path("info", [tool, "blackbox", "info", day], day, "skip-scan"),
        Path("info, random 32-bit seqNo", [tool, "blackbox", "info", scattered], scattered, "skip-scan"),
        Path("export csv", [tool, "blackbox", "export", day, "--format", "csv"], day, "skip-scan"),
        # Into a file the rows go in as they come: one pass, but every byte
        # of text also goes through the page cache.
        Path("export csv -o file", [tool, "blackbox", "export", day, "--format", "csv", "-o", csv_out], day,
             "skip-scan", csv_out),
    ]
    if tool_supports(tool, "export", "--inputs"):
        paths.append(Path("export csv --inputs 28 --outputs 4",
                          [tool, "blackbox", "export", day, "--format", "csv", "--inputs", "28", "--outputs", "4"],
                          day, "skip-scan"))
    paths.append(Path("export jsonl", [tool, "blackbox", "export", day, "--format", "jsonl"], day, "skip-scan"))
    if tool_supports(tool, "export", "--can-id") and tool_supports(tool, "export", "--from"):
        # One id of the 50 (0x100 + 16n) in one hour of the 24.
        kind = ["--kind", "can"] if tool_supports(tool, "export", "--kind") else []
        paths.append(Path("export csv, one CAN id of 50 in one hour of 24",
                          [tool, "blackbox", "export", day, "--format", "csv", *kind, "--can-id", "110",
                           "--from", "36000s", "--to", "39600s"], day, "skip-scan"))
    paths.append(Path("recover (undamaged)", [tool, "blackbox", "recover", day, "-o", out], day, "cp", out))
    paths.append(Path("export csv, random 32-bit seqNo", [tool, "blackbox", "export", scattered, "--format", "csv"],
                      scattered, "skip-scan"))
    if args.baseline_tool:
        base = args.baseline_tool
        paths += [
            Path("baseline: info", [base, "blackbox", "info", day], day, "skip-scan"),
            Path("baseline: export csv", [base, "blackbox", "export", day, "--format", "csv"], day, "skip-scan"),
            Path("baseline: export jsonl", [base, "blackbox", "export", day, "--format", "jsonl"], day, "skip-scan"),
            Path("baseline: recover", [base, "blackbox", "recover", day, "-o", out], day, "cp", out),
        ]

    for round_number in range(args.runs):
        print(f"round {round_number + 1} of {args.runs}...", file=sys.stderr)
        for path in paths:
            run_once(path)

    report(args, paths)


def report(args, paths):
    limits = {"skip-scan": paths[0], "cp": paths[1]}
    speeds = {}
    rows = [["path", "CPU time", "MB/s (CPU)", "MB/s (wall)", "of limit", "peak RSS"]]
    for p in paths:
        size = os.path.getsize(p.size_of)
        cpu = median(p.cpu)
        speed = size / 1e6 / cpu
        speeds[p.name] = speed
        of_limit = "-"
        if p.limit:
            limit = limits[p.limit]
            of_limit = f"{median(limit.cpu) / cpu:.2f} of {p.limit}"
        rows.append([p.name, f"{cpu:.3f} s ±{100 * spread(p.cpu):.0f}%", f"{speed:,.0f}",
                     f"{size / 1e6 / median(p.wall):,.0f}", of_limit, f"{p.rss_kib / 1024:.1f} MiB"])
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"\nBlackbox file of {args.mib} MiB, page cache; median of {args.runs} runs each, "
          f"±half their range; load average {load}")
    for i, r in enumerate(rows):
        print("| " + " | ".join(text.ljust(w) for text, w in zip(r, widths)) + " |")
        if i == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")

    def ratio(a, b):
        return speeds[a] / speeds[b] if a in speeds and b in speeds else None

    skip = paths[0].name
    cp = paths[1].name
    targets = [
        ("export csv", skip, 0.6, "CSV export of skip-scan speed"),
        ("info", skip, 0.7, "info of skip-scan speed"),
        ("recover (undamaged)", cp, 0.8, "recover of cp speed"),
        ("export jsonl", "baseline: export jsonl", 1.5, "jsonl against the baseline tool"),
        ("export csv, one CAN id of 50 in one hour of 24", "export csv", 3.0, "filtered against unfiltered CSV"),
        ("export csv --inputs 28 --outputs 4", "export csv", 1.3, "CSV with --inputs/--outputs against without"),
    ]
    print("\ntargets:")
    for a, b, want, label in targets:
        got = ratio(a, b)
        if got is None:
            print(f"  {label}: not measured (the path is not in this build)")
        else:
            print(f"  {label}: {got:.2f} (target {want}) {'met' if got >= want else 'MISSED'}")
    worst = max(paths[2:], key=lambda p: p.rss_kib)
    print(f"  peak RSS: at most {worst.rss_kib / 1024:.1f} MiB ({worst.name}) "
          f"(target under {RSS_LIMIT_MIB} MiB) {'met' if worst.rss_kib < RSS_LIMIT_MIB * 1024 else 'MISSED'}")


if __name__ == "__main__":
    main()
