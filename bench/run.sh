#!/usr/bin/env bash
# Builds the benchmarks when needed, runs them and prints the comparison table.
#
#   bench/run.sh [benchmark options...]
#
# Options go to the benchmark program (for example --benchmark_filter=ping).
# GCUPROTO_BENCH_BUILD_DIR picks the build directory (default: build-bench in
# the source tree, configured as Release); GCUPROTO_BENCH_REPETITIONS the
# number of repetitions whose medians the table shows (default 3). The JSON
# report is kept as bench-results.json in the build directory.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${GCUPROTO_BENCH_BUILD_DIR:-$source_dir/build-bench}
repetitions=${GCUPROTO_BENCH_REPETITIONS:-3}

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  generator=()
  if command -v ninja >/dev/null; then generator=(-G Ninja); fi
  cmake -S "$source_dir" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DGCUPROTO_BUILD_BENCHMARKS=ON -DGCUPROTO_BUILD_TESTS=OFF -DGCUPROTO_BUILD_TOOLS=OFF
else
  cmake -S "$source_dir" -B "$build_dir" -DGCUPROTO_BUILD_BENCHMARKS=ON >/dev/null
fi
cmake --build "$build_dir" --target gcuproto_bench -j 2
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
if [[ $build_type != Release && $build_type != RelWithDebInfo ]]; then
  echo "warning: $build_dir is a ${build_type:-default} build; its figures are not comparable" >&2
fi

report=$build_dir/bench-results.json
echo "running the benchmarks ($repetitions repetitions; a few minutes)..." >&2
"$build_dir/bench/gcuproto_bench" \
  --benchmark_repetitions="$repetitions" \
  --benchmark_format=json \
  "$@" >"$report"
# The table takes the median and spread of the repetitions themselves.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
"$python" "$source_dir/bench/table.py" "$report"
