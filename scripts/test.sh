#!/usr/bin/env bash
# The whole test suite from a fresh clone, the way CI runs it: installs what
# is missing, then builds and runs every test in each configuration the
# library has to survive in.
#
#   scripts/test.sh                 every stage, in this order
#   scripts/test.sh STAGE...        only these stages
#
# Stages (each in a build directory of its own under build/):
#   release   native 64-bit Release build, whole suite          build/release
#   asan      Debug build with AddressSanitizer and             build/asan
#             UndefinedBehaviorSanitizer, whole suite
#   m32       32-bit x86 build (-m32, GoogleTest built from     build/m32
#             Debian's sources), suite without tools/install
#   valgrind  build/release test executables under memcheck,    build/release
#             death tests left out
#   fuzz      libFuzzer targets built with clang: committed     build/fuzz
#             regression inputs replayed, then each target fuzzed
#             for FUZZ_SECONDS (default 20) on a copy of its corpus
#
# Environment: JOBS (parallel jobs, default: number of cores, at most 2),
# FUZZ_SECONDS (per fuzz target). Exits non-zero if any stage failed; the
# last line counts what passed and failed over all stages.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

all_stages=(release asan m32 valgrind fuzz)
if [ $# -gt 0 ]; then
  stages=("$@")
  for s in "${stages[@]}"; do
    case " ${all_stages[*]} " in
      *" $s "*) ;;
      *) echo "unknown stage '$s'; stages: ${all_stages[*]}" >&2; exit 2 ;;
    esac
  done
else
  stages=("${all_stages[@]}")
fi

scripts/deps.sh || { echo "scripts/deps.sh failed" >&2; exit 1; }

cores=$(nproc)
jobs=${JOBS:-$((cores < 2 ? cores : 2))}
fuzz_seconds=${FUZZ_SECONDS:-20}

# Tests that need the tools, libpcap, pkg-config or an installed tree are
# not part of the -m32 run (there are no 32-bit libraries for them here);
# the install tests are not part of the valgrind run either (valgrind only
# runs GoogleTest executables anyway). Other tests can opt out of those runs
# with the labels no-m32 / no-valgrind.
m32_exclude_labels='^(tools|install|no-m32)$'
m32_exclude_names='^(Tools|Install)\.'
valgrind_exclude_labels='^(install|no-valgrind)$'
valgrind_exclude_names='^Install\.'

# Sanitizer run-time settings for the asan stage and the fuzz targets.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Per-stage results for the summary.
declare -A stage_result stage_passed stage_failed stage_seconds stage_note
total_passed=0
total_failed=0

banner() {
  printf '\n==================== %s ====================\n' "$*"
}

# Counts from the closing line of a ctest log into ctest_passed/ctest_failed.
ctest_counts() {
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then
    ctest_passed=0
    ctest_failed=0
    return
  fi
  local total failed
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  ctest_failed=$failed
  ctest_passed=$((total - failed))
}

# configure DIR ARGS...: cmake configure, then build with $jobs jobs.
configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j"$jobs"
}

# run_ctest STAGE DIR CTEST-ARGS...: runs the tests and records the counts.
run_ctest() {
  local stage=$1 dir=$2
  shift 2
  local log=$dir/ctest-stage.log
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  ctest_counts "$log"
  stage_passed[$stage]=$ctest_passed
  stage_failed[$stage]=$ctest_failed
  if [ "$rc" -ne 0 ] && [ "$ctest_failed" -eq 0 ]; then
    stage_failed[$stage]=1   # ctest itself failed (no tests, bad arguments)
  fi
  return "$rc"
}

build_failed() {
  stage_passed[$1]=0
  stage_failed[$1]=1
  stage_note[$1]="build failed"
}

# --------------------------------------------------------------------------
stage_release() {
  configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DTRACELIB_WERROR=ON ||
    { build_failed release; return 1; }
  run_ctest release build/release
}

# --------------------------------------------------------------------------
stage_asan() {
  local flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTRACELIB_WERROR=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
    -DCMAKE_MODULE_LINKER_FLAGS="$flags" ||
    { build_failed asan; return 1; }
  run_ctest asan build/asan
}

# --------------------------------------------------------------------------
# Some kernels run no 32-bit programs; there the tests run under qemu-i386
# (CMake runs every test command and GoogleTest discovery through it).
m32_emulator() {
  local probe
  probe=$(mktemp -d)
  printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$probe/probe.c"
  if ! cc -m32 "$probe/probe.c" -o "$probe/probe" 2>/dev/null; then
    rm -rf "$probe"
    echo "cc -m32 cannot build a program (is g++-multilib installed?)" >&2
    return 1
  fi
  if ! "$probe/probe" 2>/dev/null; then
    if command -v qemu-i386 >/dev/null && qemu-i386 "$probe/probe"; then
      command -v qemu-i386
    else
      rm -rf "$probe"
      echo "this kernel runs no 32-bit programs and qemu-i386 is missing" >&2
      return 1
    fi
  fi
  rm -rf "$probe"
}

# The layout checks the design fixes (record, rule and Timeval sizes) are
# static_asserts in these sources: they must be compiled for 32-bit too.
m32_layout_checks_compiled() {
  local ok=0 src
  if ! LC_ALL=C readelf -h build/m32/libtracelib.so 2>/dev/null | grep -q 'Class:[[:space:]]*ELF32'; then
    echo "build/m32/libtracelib.so is not a 32-bit library" >&2
    ok=1
  fi
  for src in src/traceBuffer.cpp src/frameFilter.cpp src/traceApi.cpp; do
    if ! grep -q 'static_assert' "$src"; then
      echo "$src holds no static_assert any more" >&2
      ok=1
    elif ! grep -F '"command"' build/m32/compile_commands.json | grep -F -- " -m32 " |
        grep -qF -- "-c $root/$src"; then
      echo "$src is not compiled with -m32 in build/m32" >&2
      ok=1
    else
      echo "layout checks of $src compiled for 32-bit x86"
    fi
  done
  return $ok
}

stage_m32() {
  local emulator
  emulator=$(m32_emulator) || { build_failed m32; return 1; }
  local args=(-DCMAKE_BUILD_TYPE=Release -DTRACELIB_WERROR=ON
    -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32
    -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32
    -DCMAKE_MODULE_LINKER_FLAGS=-m32
    -DTRACELIB_TOOLS=OFF -DTRACELIB_BENCH=OFF -DTRACELIB_FUZZ=OFF
    -DTRACELIB_GTEST_SOURCE_DIR=/usr/src/googletest
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator")
  if [ -n "$emulator" ]; then
    echo "32-bit programs run under $emulator"
    stage_note[m32]="under qemu-i386"
  fi
  configure_and_build build/m32 "${args[@]}" || { build_failed m32; return 1; }
  if ! m32_layout_checks_compiled; then
    stage_note[m32]="layout checks not compiled for 32-bit"
    stage_passed[m32]=0
    stage_failed[m32]=1
    return 1
  fi
  run_ctest m32 build/m32 -LE "$m32_exclude_labels" -E "$m32_exclude_names"
}

# --------------------------------------------------------------------------
# Each GoogleTest executable of build/release runs once under memcheck with
# the test cases ctest selects; two at a time. Memcheck errors and leaks end
# the run with this code, failed test cases with GoogleTest's 1.
valgrind_error_exit=99

valgrind_one() {
  local program=$1 workdir=$2 filter=$3 environment=$4 log=$5
  local envs=() rc
  if [ -n "$environment" ]; then
    IFS=$'\x1f' read -ra envs <<<"$environment"
  fi
  (
    cd "${workdir:-.}" &&
      env ${envs[@]+"${envs[@]}"} valgrind --tool=memcheck --error-exitcode=$valgrind_error_exit \
        --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect --child-silent-after-fork=yes \
        --num-callers=40 --suppressions="$root/scripts/valgrind.supp" \
        "$program" --gtest_filter="$filter"
  ) >"$log" 2>&1
  rc=$?
  echo "$rc" >"$log.rc"
}

stage_valgrind() {
  configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DTRACELIB_WERROR=ON ||
    { build_failed valgrind; return 1; }
  local dir=build/valgrind-logs
  rm -rf "$dir"
  mkdir -p "$dir"
  ctest --test-dir build/release --show-only=json-v1 \
    -LE "$valgrind_exclude_labels" -E "$valgrind_exclude_names" >"$dir/tests.json" ||
    { build_failed valgrind; return 1; }
  cmake -DJSON="$dir/tests.json" -P scripts/valgrindPlan.cmake >"$dir/plan.txt" 2>&1 ||
    { build_failed valgrind; return 1; }

  local programs=() workdirs=() filters=() environments=() skipped=()
  local program workdir filter environment
  while IFS=$'\t' read -r program workdir filter environment; do
    if [ "$program" = "-" ]; then
      skipped+=("$workdir")
    else
      programs+=("$program")
      workdirs+=("$workdir")
      filters+=("$filter")
      environments+=("$environment")
    fi
  done <"$dir/plan.txt"
  if [ ${#skipped[@]} -gt 0 ]; then
    echo "not GoogleTest cases, not run under valgrind: ${skipped[*]}"
  fi

  local logs=() i running=0
  for i in "${!programs[@]}"; do
    logs[$i]="$dir/$i-$(basename "${programs[$i]}").log"
    echo "valgrind: ${programs[$i]#"$root"/}"
    valgrind_one "${programs[$i]}" "${workdirs[$i]}" "${filters[$i]}" \
      "${environments[$i]}" "${logs[$i]}" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
      wait -n
      running=$((running - 1))
    fi
  done
  wait

  local passed=0 failed=0 rc
  for i in "${!programs[@]}"; do
    rc=$(cat "${logs[$i]}.rc" 2>/dev/null || echo 1)
    local name
    name=$(basename "${programs[$i]}")
    local cases
    cases=$(grep -Eo '^\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran' "${logs[$i]}" |
      grep -Eo '^\[==========\] [0-9]+' | grep -Eo '[0-9]+$')
    if [ "$rc" -eq 0 ]; then
      passed=$((passed + 1))
      echo "valgrind PASSED  $name (${cases:-?} test cases, no errors, no leaks)"
    else
      failed=$((failed + 1))
      local why="test cases failed"
      [ "$rc" -eq "$valgrind_error_exit" ] && why="memory errors or leaks"
      echo "valgrind FAILED  $name ($why, exit $rc); log: ${logs[$i]}"
      echo "---- ${logs[$i]} (errors, leaks and failed test cases) ----"
      grep -E '^==[0-9]+== ([A-Z].*|   (at|by) .*)$|\[  FAILED  \]|ERROR SUMMARY|definitely lost|indirectly lost' \
        "${logs[$i]}" | head -200
      echo "---- end of ${logs[$i]} ----"
    fi
  done
  stage_passed[valgrind]=$passed
  stage_failed[valgrind]=$failed
  stage_note[valgrind]="${#programs[@]} test executables"
  echo "valgrind: $passed executables clean, $failed with errors or leaks"
  [ "$failed" -eq 0 ] && [ "${#programs[@]}" -gt 0 ]
}

# --------------------------------------------------------------------------
# Sample captures of the classic format seed the replay target.
is_classic_capture() {
  local magic
  magic=$(od -An -tx1 -N4 "$1" 2>/dev/null | tr -d ' \n')
  case "$magic" in
    d4c3b2a1 | a1b2c3d4 | 4d3cb2a1 | a1b23c4d) return 0 ;;
  esac
  return 1
}

# Keeps a crash found by fuzzing as a regression input in the work tree
# (commit it with the fix) and prints it, so that a CI log holds it too.
keep_crash() {
  local target=$1 artifact=$2
  local dest=fuzz/regressions/$target
  mkdir -p "$dest"
  local name
  name=$(basename "$artifact")
  cp "$artifact" "$dest/$name"
  echo "fuzz: $target: kept $artifact as $dest/$name; its bytes (base64):"
  base64 "$artifact"
}

stage_fuzz() {
  if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
    echo "clang is missing" >&2
    { build_failed fuzz; return 1; }
  fi
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
    -DTRACELIB_FUZZ=ON -DTRACELIB_TESTS=OFF -DTRACELIB_BENCH=OFF ||
    { build_failed fuzz; return 1; }
  cmake --build build/fuzz -j"$jobs" --target fuzz_targets || { build_failed fuzz; return 1; }

  local targets=()
  mapfile -t targets < <(grep -v '^$' build/fuzz/fuzz/targets.txt)
  if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets were configured" >&2
    { build_failed fuzz; return 1; }
  fi

  local passed=0 failed=0 target
  for target in "${targets[@]}"; do
    local bin=build/fuzz/fuzz/$target
    local work=build/fuzz/run/$target
    local ok=1
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"

    # Inputs that once crashed: each must run clean.
    local regressions=()
    if [ -d "fuzz/regressions/$target" ]; then
      mapfile -t regressions < <(find "fuzz/regressions/$target" -type f ! -name '*.md' | sort)
    fi
    if [ ${#regressions[@]} -gt 0 ]; then
      echo "fuzz: $target: replaying ${#regressions[@]} regression inputs"
      if ! "$bin" "${regressions[@]}" >"$work/regressions.log" 2>&1; then
        echo "fuzz FAILED  $target: a regression input crashes again:"
        tail -60 "$work/regressions.log"
        ok=0
      fi
    fi

    # A copy of the committed corpus (plus sample captures) to fuzz on, so
    # the committed corpus never grows.
    if [ -d "fuzz/corpus/$target" ]; then
      cp fuzz/corpus/"$target"/* "$work/corpus/" 2>/dev/null
    fi
    if [ "$target" = fuzz_replay ] && [ -d samples ]; then
      local sample
      while IFS= read -r sample; do
        if is_classic_capture "$sample" && [ "$(stat -c %s "$sample")" -le 65536 ]; then
          cp "$sample" "$work/corpus/sample-$(basename "$sample")"
        fi
      done < <(find samples -type f | sort)
    fi

    if [ "$ok" -eq 1 ]; then
      echo "fuzz: $target: ${fuzz_seconds}s on $(find "$work/corpus" -type f | wc -l) seed inputs"
      "$bin" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        "$work/corpus" >"$work/fuzz.log" 2>&1
      local rc=$?
      grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' \
        "$work/fuzz.log"
      local artifact
      for artifact in "$work"/artifacts/*; do
        [ -e "$artifact" ] || continue
        keep_crash "$target" "$artifact"
        ok=0
      done
      if [ "$rc" -ne 0 ]; then
        ok=0
        echo "fuzz FAILED  $target (exit $rc); log: $work/fuzz.log"
        grep -E -A40 '^==[0-9]+==ERROR|check failed|runtime error|SUMMARY' "$work/fuzz.log" | head -80
      fi
    fi

    if [ "$ok" -eq 1 ]; then
      passed=$((passed + 1))
      echo "fuzz PASSED  $target"
    else
      failed=$((failed + 1))
    fi
  done
  stage_passed[fuzz]=$passed
  stage_failed[fuzz]=$failed
  stage_note[fuzz]="${#targets[@]} targets, ${fuzz_seconds}s each"
  [ "$failed" -eq 0 ]
}

# --------------------------------------------------------------------------
overall=0
for stage in "${stages[@]}"; do
  banner "stage $stage"
  start=$SECONDS
  stage_passed[$stage]=0
  stage_failed[$stage]=0
  stage_note[$stage]=""
  if "stage_$stage"; then
    stage_result[$stage]=PASSED
  else
    stage_result[$stage]=FAILED
    overall=1
    if [ "${stage_failed[$stage]}" -eq 0 ]; then
      stage_failed[$stage]=1
    fi
  fi
  stage_seconds[$stage]=$((SECONDS - start))
  total_passed=$((total_passed + stage_passed[$stage]))
  total_failed=$((total_failed + stage_failed[$stage]))
done

banner "summary"
printf '%-9s %-7s %7s %7s %8s  %s\n' stage result passed failed seconds note
for stage in "${stages[@]}"; do
  printf '%-9s %-7s %7s %7s %8s  %s\n' "$stage" "${stage_result[$stage]}" \
    "${stage_passed[$stage]}" "${stage_failed[$stage]}" "${stage_seconds[$stage]}" \
    "${stage_note[$stage]}"
done
echo
if [ "$overall" -eq 0 ]; then
  echo "all stages passed"
else
  echo "FAILED stages:$(for s in "${stages[@]}"; do [ "${stage_result[$s]}" = FAILED ] && printf ' %s' "$s"; done)"
fi
echo "${total_passed} passed, ${total_failed} failed"
exit "$overall"
