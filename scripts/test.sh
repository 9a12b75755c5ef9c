#!/usr/bin/env bash
# The whole test suite, the way CI runs it: installs what is missing
# (scripts/deps.sh test), runs each stage and prints a summary.
#
#   scripts/test.sh              every stage, in this order
#   scripts/test.sh STAGE...     only these stages
#
#   x86-64    preset release: native 64-bit Release, warnings as errors
#   asan      preset asan: Debug, AddressSanitizer + UndefinedBehaviorSanitizer
#   i686      preset i686: 32-bit x86      \  cross-built, GoogleTest from Debian's
#   armhf     preset armhf: 32-bit ARM      > sources, run under qemu-user; tools
#   powerpc   preset powerpc: 32-bit BE PPC /  that need libpcap left out
#   valgrind  ctest -T memcheck: build/release's GoogleTest cases under valgrind
#   fuzz      fuzz/run.sh: libFuzzer targets, regressions, FUZZ_SECONDS each
#
# Each stage's full output is in build/logs/STAGE.log; on failure its
# failing lines are printed. JOBS sets parallel jobs (default: cores).
set -uo pipefail
cd "$(dirname "$0")/.."

all_stages=(x86-64 asan i686 armhf powerpc valgrind fuzz)
stages=("$@")
[ $# -gt 0 ] || stages=("${all_stages[@]}")
for s in "${stages[@]}"; do
  case " ${all_stages[*]} " in
    *" $s "*) ;;
    *) echo "unknown stage '$s'; stages: ${all_stages[*]}" >&2; exit 2 ;;
  esac
done

scripts/deps.sh test || exit 1
export JOBS=${JOBS:-$(nproc)}
mkdir -p build/logs

# The ELF class and machine each build's library must have: proof that the
# layout static_asserts were compiled for that target.
declare -A elf_machine=([i686]="Intel 80386" [armhf]="ARM" [powerpc]="PowerPC")

check_elf() {
  local preset=$1 header
  [ -n "${elf_machine[$preset]:-}" ] || return 0
  header=$(LC_ALL=C readelf -h "build/$preset/libtracelib.so") || return 1
  if [[ "$header" != *"ELF32"* || "$header" != *"Machine:"*"${elf_machine[$preset]}"* ]]; then
    echo "build/$preset/libtracelib.so is not a 32-bit ${elf_machine[$preset]} library"
    return 1
  fi
  echo "build/$preset/libtracelib.so: ELF32, ${elf_machine[$preset]}"
}

preset_stage() {
  local preset=$1
  cmake --preset "$preset" && cmake --build --preset "$preset" -j"$JOBS" &&
    check_elf "$preset" && ctest --preset "$preset" -j"$JOBS"
}

# Every GoogleTest case of build/release under memcheck, the same cases as
# x86-64 but the death tests (they abort on purpose) and the checks run by
# cmake or shell scripts. No error and no leak is allowed, in a test or in
# the children it forks (crash tests write their files there): a child's
# errors do not change the test's exit status, so ctest's count of the
# defects in each log (every process's) fails the stage too.
memcheck_stage() {
  local out
  out=$(ctest --test-dir build/release -T memcheck -j"$JOBS" --output-on-failure \
    -E 'Death|^HostCheck\.|^Symbols\.|^Install\.|^Deps\.|^Man\.|ToolPrintsIts|CrossCheck' \
    --overwrite MemoryCheckCommand="$(command -v valgrind)" \
    --overwrite MemoryCheckSuppressionFile="$PWD/scripts/valgrind.supp" \
    --overwrite "MemoryCheckCommandOptions=--error-exitcode=99 --leak-check=full \
--errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --num-callers=40")
  local rc=$?
  echo "$out"
  if grep -E 'Defects: [1-9]' <<<"$out"; then
    echo "memory errors or leaks; logs: build/release/Testing/Temporary/MemoryChecker.<test number>.log"
    return 1
  fi
  return $rc
}

run_stage() {
  case $1 in
    x86-64) preset_stage release ;;
    asan | i686 | armhf | powerpc) preset_stage "$1" ;;
    valgrind) cmake --preset release && cmake --build --preset release -j"$JOBS" && memcheck_stage ;;
    fuzz) fuzz/run.sh ;;
  esac
}

# Passed and failed counts from a stage log: ctest's closing line, or
# fuzz/run.sh's "N passed, N failed".
stage_counts() {
  local log=$1 line failures total
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    read -r failures total < <(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+)$/\1 \2/' <<<"$line")
    echo "$((total - failures)) $failures"
    return
  fi
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  [ -n "$line" ] && sed -E 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/' <<<"$line" && return
  echo "0 0"
}

declare -A result passed failed seconds
overall=0
for stage in "${stages[@]}"; do
  log=build/logs/$stage.log
  echo "== $stage (log: $log)"
  start=$SECONDS
  if run_stage "$stage" >"$log" 2>&1; then result[$stage]=PASSED; else result[$stage]=FAILED; fi
  seconds[$stage]=$((SECONDS - start))
  read -r passed[$stage] failed[$stage] < <(stage_counts "$log")
  if [ "${result[$stage]}" = FAILED ]; then
    overall=1
    [ "${failed[$stage]}" -gt 0 ] || failed[$stage]=1   # a build or set-up failure
    echo "-- $stage failed; the failing lines of $log:"
    grep -E -B2 -A25 'error:|Error |\*\*\*Failed|\(Failed\)|Exception|FAILED|[^0] failed$' "$log" |
      sed -n 1,200p
  fi
  echo "   $stage: ${result[$stage]} (${passed[$stage]} passed, ${failed[$stage]} failed, ${seconds[$stage]} s)"
done

echo
printf '%-9s %-7s %7s %7s %8s\n' stage result passed failed seconds
total_passed=0
total_failed=0
for stage in "${stages[@]}"; do
  printf '%-9s %-7s %7s %7s %8s\n' "$stage" "${result[$stage]}" "${passed[$stage]}" \
    "${failed[$stage]}" "${seconds[$stage]}"
  total_passed=$((total_passed + passed[$stage]))
  total_failed=$((total_failed + failed[$stage]))
done
echo "${total_passed} passed, ${total_failed} failed"
exit "$overall"
