#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz, build/fuzz), replays every committed
# regression input, then fuzzes each target for FUZZ_SECONDS (default 20) on
# a copy of its corpus. A crash found is copied into fuzz/regressions/TARGET/
# (commit it with the fix) and printed in base64 so that a CI log holds it.
# The last line is "N passed, N failed", counting targets.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
jobs=${JOBS:-$(nproc)}
build=build/fuzz

if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing (scripts/deps.sh test installs it)"
  echo "0 passed, 1 failed"
  exit 1
fi
if ! { cmake --preset fuzz && cmake --build --preset fuzz -j"$jobs"; }; then
  echo "0 passed, 1 failed"
  exit 1
fi
mapfile -t targets < <(grep -v '^$' "$build/fuzz/targets.txt")

# Classic-format sample captures seed the replay target.
is_classic_capture() {
  case "$(od -An -tx1 -N4 "$1" | tr -d ' \n')" in
    d4c3b2a1 | a1b2c3d4 | 4d3cb2a1 | a1b23c4d) return 0 ;;
  esac
  return 1
}

seed_corpus() {
  local target=$1 work=$2 sample
  [ -d "fuzz/corpus/$target" ] && cp fuzz/corpus/"$target"/* "$work/corpus/"
  [ "$target" = fuzz_replay ] || return 0
  for sample in samples/*; do
    if is_classic_capture "$sample" && [ "$(stat -c %s "$sample")" -le 65536 ]; then
      cp "$sample" "$work/corpus/sample-$(basename "$sample")"
    fi
  done
}

keep_crash() {
  local target=$1 artifact=$2 dest=fuzz/regressions/$1
  mkdir -p "$dest"
  cp "$artifact" "$dest/"
  echo "fuzz: $target: kept $artifact as $dest/$(basename "$artifact"); its bytes (base64):"
  base64 "$artifact"
}

# fuzz_one TARGET: 0 when the regressions replay clean and fuzzing finds nothing.
fuzz_one() {
  local target=$1 bin=$build/fuzz/$1 work=$build/run/$1 regressions=() artifact rc
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  [ -d "fuzz/regressions/$target" ] &&
    mapfile -t regressions < <(find "fuzz/regressions/$target" -type f ! -name '*.md' | sort)
  if [ ${#regressions[@]} -gt 0 ] && ! "$bin" "${regressions[@]}" >"$work/regressions.log" 2>&1; then
    echo "fuzz: $target: a regression input fails again:"
    tail -n 60 "$work/regressions.log"
    return 1
  fi
  seed_corpus "$target" "$work"
  echo "fuzz: $target: ${#regressions[@]} regression inputs clean; ${seconds}s on $(ls "$work/corpus" | wc -l) seeds"
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/fuzz.log" 2>&1
  rc=$?
  grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/fuzz.log"
  for artifact in "$work"/artifacts/*; do
    [ -e "$artifact" ] && keep_crash "$target" "$artifact" && rc=1
  done
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $target failed (exit $rc); log: $work/fuzz.log"
    grep -E -A40 '^==[0-9]+==ERROR|check failed|runtime error|SUMMARY' "$work/fuzz.log" | sed -n 1,80p
  fi
  return "$rc"
}

passed=0
failed=0
for target in "${targets[@]}"; do
  if fuzz_one "$target"; then
    passed=$((passed + 1))
    echo "fuzz PASSED  $target"
  else
    failed=$((failed + 1))
    echo "fuzz FAILED  $target"
  fi
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were configured"; failed=1; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
