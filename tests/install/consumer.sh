#!/usr/bin/env bash
# consumer.sh install|cmake|pkgconfig <build dir> <source dir> <work dir>
#   install: installs the build into <work>/prefix and checks the tree;
#   cmake / pkgconfig: builds and runs consumer/ against that tree alone.
# Settings come in TRACELIB_* and CONSUMER_* variables (see CMakeLists.txt). Exit status 77: skipped.
set -euo pipefail
mode=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) work=$4
prefix=$work/prefix libdir=$work/prefix/${TRACELIB_LIBDIR:-lib} out=$work/$mode-consumer
version=${TRACELIB_VERSION:?} cxx=${CONSUMER_CXX:-c++} cxxflags=${CONSUMER_CXXFLAGS:-} ldflags=${CONSUMER_LDFLAGS:-}
major=${version%%.*} lib=$libdir/libtracelib.so.${TRACELIB_VERSION}
mandir=$prefix/${TRACELIB_MANDIR:-share/man}
fail() { echo "FAIL: $*" >&2; exit 1; }
# Without a library path the program finds the installed library by SONAME.
loads_installed() {
  local so; so=$(env -u LD_LIBRARY_PATH ldd "$1" | awk -v so="libtracelib.so.$major" '$1 == so { print $3 }')
  [ -n "$so" ] && [ "$(readlink -f "$so")" = "$(readlink -f "$lib")" ] || fail "$1 loads '$so', not $lib"
}
run() { loads_installed "$1" && env -u LD_LIBRARY_PATH "$1" "$2" && [ -s "$2" ] || fail "$2 is empty"; }
# The host check kit, linked with a host written outside the project, passes.
run_kit() {
  loads_installed "$1" && env -u LD_LIBRARY_PATH "$1" | tail -n 1 | grep -Ex '[0-9]+ passed, 0 failed' ||
    fail "$1 did not pass"
}
minimal_host=$source/examples/minimalHost/minimalHost.cpp
if [ "$mode" != install ]; then
  [ -d "$prefix" ] || fail "nothing installed in $prefix"
  # A library built with a sanitizer only links into programs built with it.
  if readelf -d --dyn-syms "$lib" | grep -E 'NEEDED.*lib(a|ub|t)san| UND __(asan|ubsan|tsan)_' >/dev/null &&
     [[ " $cxxflags $ldflags " != *-fsanitize=* ]]; then echo "SKIP: sanitizer build"; exit 77; fi
  rm -rf "$out" && mkdir -p "$out"
fi
case $mode in
install)
  rm -rf "$prefix" && cmake --install "$build" --prefix "$prefix"
  [ -f "$lib" ] && [ ! -L "$lib" ] || fail "$lib is missing or not a file"
  [ "$(readlink "$libdir/libtracelib.so.$major")" = "libtracelib.so.$version" ] || fail "bad SONAME link"
  [ "$(readlink "$libdir/libtracelib.so")" = "libtracelib.so.$major" ] || fail "bad development link"
  [ "$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" = "libtracelib.so.$major" ] || fail "bad SONAME"
  ! readelf -d "$lib" | grep -E '(RPATH|RUNPATH)' | grep -F "$build" >/dev/null || fail "library searches the build tree"
  for h in "$source"/include/*.h "$source"/common/include/*.h "$source"/host/*.h hostsim/hostsim.h; do
    [ -f "$prefix/${TRACELIB_INCLUDEDIR:-include}/tracelib/${h##"$source"/*/}" ] || fail "header $h not installed"
  done
  [ -f "$prefix/${TRACELIB_INCLUDEDIR:-include}/tracelib/hostCheck.h" ] ||
    fail "hostCheck.h not installed"
  for f in libtracehost.a libtraceclock.a libtracelib-hostcheck.a \
           cmake/tracelib/tracelibConfig.cmake cmake/tracelib/tracelibConfigVersion.cmake \
           cmake/tracelib/tracelibHostcheckTargets.cmake \
           pkgconfig/tracelib.pc pkgconfig/tracehost.pc pkgconfig/tracelib-hostcheck.pc; do
    [ -f "$libdir/$f" ] || fail "$f not installed"
  done
  ! grep -rlF -e "$source" -e "$build" "$libdir/cmake" "$libdir/pkgconfig" || fail "package files name the trees"
  [ "${TRACELIB_TOOLS:-0}" != 1 ] || { [ -x "$prefix/bin/tracereplay" ] && loads_installed "$prefix/bin/tracereplay"; } ||
    fail "tracereplay not installed"
  { [ -x "$prefix/bin/tracerecover" ] && loads_installed "$prefix/bin/tracerecover"; } ||
    fail "tracerecover not installed"
  # `man TOOL` finds the installed page through the prefix's man directory.
  for tool in tracerecover $([ "${TRACELIB_TOOLS:-0}" != 1 ] || echo tracereplay); do
    [ "$(MANPATH=$mandir man -w "$tool" 2>/dev/null)" = "$mandir/man1/$tool.1" ] ||
      ! command -v man >/dev/null || fail "man $tool does not find $mandir/man1/$tool.1"
  done
  ;;
cmake)
  CC=${CONSUMER_CC:-cc} CXX=$cxx cmake -S "$source/tests/install/consumer" -B "$out" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DEXPECTED_TRACELIB_VERSION="$version" \
    -DMINIMAL_HOST="$minimal_host"
  cmake --build "$out" && run "$out/consumer" "$out/trace.txt" && run_kit "$out/hostcheck"
  ;;
pkgconfig)
  export PKG_CONFIG_PATH=$libdir/pkgconfig && unset PKG_CONFIG_LIBDIR
  [ "$(pkg-config --modversion tracelib)" = "$version" ] || fail "pkg-config reports another version"
  pclibdir=$(pkg-config --variable=libdir tracelib)
  [ "$(readlink -f "$pclibdir")" = "$(readlink -f "$libdir")" ] || fail "tracelib.pc gives libdir $pclibdir"
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++17 $cxxflags -o "$out/consumer" "$source/tests/install/consumer/main.cpp" \
    $(pkg-config --cflags tracelib tracehost) $ldflags $(pkg-config --libs tracelib tracehost) -Wl,-rpath,"$pclibdir"
  run "$out/consumer" "$out/trace.txt"
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++17 $cxxflags -o "$out/hostcheck" "$minimal_host" \
    $(pkg-config --cflags --libs tracelib-hostcheck) $ldflags -Wl,-rpath,"$pclibdir"
  run_kit "$out/hostcheck"
  ;;
*) fail "unknown mode $mode" ;;
esac
