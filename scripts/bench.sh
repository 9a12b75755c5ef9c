#!/usr/bin/env bash
# Builds the benchmarks (Release, in build/bench), runs them and prints one
# table: each recording path beside its hand-written floor, with the ratio,
# the heap allocations per call, and the throughput of saveTrace and
# debugDump. Extra arguments go to the benchmark binary (for example
# --benchmark_filter=fc_rx). BENCH_REPETITIONS (default 5) and
# BENCH_MIN_TIME (seconds per repetition, default 0.5) tune the run; the raw
# results stay in build/bench/results.json and build/bench/bench.log.
set -euo pipefail
cd "$(dirname "$0")/.."
DEPS_LOG=build/bench/deps.log scripts/deps.sh bench

build=build/bench
mkdir -p "$build"
if ! { cmake --preset bench && cmake --build --preset bench -j"$(nproc)"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  exit 1
fi

echo "running the benchmarks (about two minutes)..." >&2
"$build/bench/tracelib_bench" \
  --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_min_time="${BENCH_MIN_TIME:-0.5}" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$build/results.json" --benchmark_out_format=json \
  "$@" >"$build/bench.log" 2>&1 || { cat "$build/bench.log" >&2; exit 1; }

python3 bench/benchTable.py "$build/results.json"
