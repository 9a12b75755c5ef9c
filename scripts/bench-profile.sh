#!/usr/bin/env bash
# Profiles one benchmark case under callgrind, whose instruction counts do
# not depend on what else the machine is doing, and prints each function the
# case calls with its inclusive instructions per call. Build first with
# scripts/bench.sh. Under callgrind gettimeofday is a plain system call, so
# the clock counts a handful of instructions here.
#   scripts/bench-profile.sh fc_rx/lib
#   scripts/bench-profile.sh fc_rx/floor
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: $0 CASE (for example fc_rx/lib)" >&2; exit 2; }
binary=build/bench/bench/tracelib_bench
[ -x "$binary" ] || { echo "$binary is missing: run scripts/bench.sh first" >&2; exit 1; }

out=$(mktemp /tmp/tracelib-profile.XXXXXX)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" "$binary" \
  --benchmark_filter="^$1\$" --benchmark_min_time=0.05 >/dev/null 2>&1
# Prints the functions of the library, the benchmark binary (floors and the
# reference host) and the C library, by inclusive instructions.
# Calling-tree lines look like "  1,234 (5.6%)  >   ???:name(args) (789x) [object]".
callgrind_annotate --inclusive=yes --tree=calling "$out" 2>/dev/null |
  python3 -c '
import re, sys
seen = {}
caller = ""
entries = []
for line in sys.stdin:
    star = re.match(r"\s*[\d,]+ \(.*?\)\s+\*\s+(.*) \[", line)
    if star:
        caller = star[1]
        continue
    m = re.match(r"\s*([\d,]+) \(.*?\)\s+>\s+(.*) \(([\d,]+)x\) \[(.*)\]", line)
    if not m:
        continue
    ir, name, calls, obj = int(m[1].replace(",", "")), m[2], int(m[3].replace(",", "")), m[4]
    if "LambdaBenchmark" in caller:
        entries.append(calls)
    if "tracelib" not in obj and "libc.so" not in obj:
        continue
    seen[name] = max(seen.get(name, (0, 0)), (calls, ir))
# The measured loop calls the case once per iteration: the most frequent
# callee of the benchmark body gives the number of iterations.
iterations = max(entries, default=1)
rows = [(ir / iterations, ir / calls, calls / iterations, name)
        for name, (calls, ir) in seen.items() if calls * 2 >= iterations]
for per_iteration, per_call, frequency, name in sorted(rows, reverse=True):
    label = name.replace("???:", "")
    print(f"{per_call:8.0f} Ir/call {frequency:4.1f} calls/iteration  {label}")
'
