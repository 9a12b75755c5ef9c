#!/usr/bin/env bash
# Runs every GoogleTest executable of a build once under memcheck, with the
# test cases ctest lists for it (death tests left out: they abort on
# purpose); two at a time. No memory error and no leak is allowed, in the
# test process or in the children it forks (crash tests write their files
# there): a child's errors do not change the test's exit status, so the log
# is searched for every process's errors.
#
#   scripts/valgrind.sh [BUILD_DIR]     default build/release, built already
#
# Logs go to BUILD_DIR/valgrind/; the last line is "N passed, N failed",
# counting executables.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/release}
jobs=${JOBS:-$(nproc)}
logs=$build/valgrind
error_exit=99   # memcheck errors and leaks; failed test cases exit 1
error_lines='^==[0-9]+== (ERROR SUMMARY: [1-9]|Invalid |Mismatched |Syscall param |Conditional jump |Use of uninitialised |Source and destination overlap|Argument .* of function |.* are (definitely|indirectly) lost in loss record )'

rm -rf "$logs"
mkdir -p "$logs"
ctest --test-dir "$build" --show-only=json-v1 >"$logs/tests.json" || exit 1
cmake -DJSON="$logs/tests.json" -P scripts/valgrindPlan.cmake >"$logs/plan.txt" 2>&1 || {
  cat "$logs/plan.txt"
  exit 1
}

# One plan line: program, working directory, gtest filter, environment
# (entries separated by 0x1f); "-" and a test name for tests left out.
run_one() {
  local program=$1 workdir=$2 filter=$3 environment=$4 log=$5 envs=()
  [ -n "$environment" ] && IFS=$'\x1f' read -ra envs <<<"$environment"
  (
    cd "${workdir:-.}" &&
      env ${envs[@]+"${envs[@]}"} valgrind --tool=memcheck --error-exitcode=$error_exit \
        --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect \
        --num-callers=40 --suppressions="$root/scripts/valgrind.supp" \
        "$program" --gtest_filter="$filter"
  ) >"$log" 2>&1
  local rc=$?
  # A child killed by SIGKILL prints no summary: its errors are found by
  # their own lines.
  if [ "$rc" -eq 0 ] && grep -qE "$error_lines" "$log"; then
    rc=$error_exit
  fi
  echo $rc >"$log.rc"
}

programs=()
running=0
while IFS=$'\t' read -r program workdir filter environment; do
  if [ "$program" = "-" ]; then
    echo "not a GoogleTest case, not run under valgrind: $workdir"
    continue
  fi
  log="$logs/${#programs[@]}-$(basename "$program").log"
  programs+=("$program")
  run_one "$program" "$workdir" "$filter" "$environment" "$log" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done <"$logs/plan.txt"
wait

passed=0
failed=0
for i in "${!programs[@]}"; do
  name=$(basename "${programs[$i]}")
  log="$logs/$i-$name.log"
  rc=$(cat "$log.rc" 2>/dev/null || echo 1)
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
    echo "valgrind PASSED  $name"
  else
    failed=$((failed + 1))
    why="test cases failed"
    [ "$rc" -eq "$error_exit" ] && why="memory errors or leaks"
    echo "valgrind FAILED  $name ($why, exit $rc); log: $log"
    grep -E '^==[0-9]+== ([A-Z].*|   (at|by) .*)$|\[  FAILED  \]|ERROR SUMMARY|definitely lost|indirectly lost' \
      "$log" | sed -n 1,200p
  fi
done
[ ${#programs[@]} -gt 0 ] || { echo "no GoogleTest executable found in $build"; failed=1; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
