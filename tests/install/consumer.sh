#!/usr/bin/env bash
# Install test: consumer.sh install|cmake|pkgconfig <build dir> <source dir> <work dir>
#
#   install    installs every component of <build dir> into <work dir>/prefix
#              (emptied first) and checks the installed tree
#   cmake      builds and runs consumer/ with find_package(tracelib)
#   pkgconfig  builds and runs consumer/main.cpp with pkg-config and c++
#
# The environment brings the build's settings: TRACELIB_VERSION,
# TRACELIB_LIBDIR, TRACELIB_INCLUDEDIR, TRACELIB_TOOLS (1 when tracereplay
# is built), and the compiler and flags
# (CONSUMER_CC, CONSUMER_CXX, CONSUMER_CXXFLAGS, CONSUMER_LDFLAGS) so that a
# sanitizer build links its consumers the same way.
# Exit status 77: skipped.
set -euo pipefail

mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
work=$4
prefix=$work/prefix
libdir=$prefix/${TRACELIB_LIBDIR:-lib}
includedir=$prefix/${TRACELIB_INCLUDEDIR:-include}
version=${TRACELIB_VERSION:?}
major=${version%%.*}
cxx=${CONSUMER_CXX:-c++}
cxxflags=${CONSUMER_CXXFLAGS:-}
ldflags=${CONSUMER_LDFLAGS:-}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A library built with a sanitizer only links into programs built with it.
check_sanitizer_flags() {
  local lib=$libdir/libtracelib.so.$version
  if readelf -d "$lib" | grep -E 'NEEDED.*lib(asan|ubsan|tsan)' >/dev/null ||
     readelf -Ws --dyn-syms "$lib" | grep -E ' UND __(asan|ubsan|tsan)_' >/dev/null; then
    case " $cxxflags $ldflags " in
      *-fsanitize=*) ;;
      *) echo "SKIP: the library is built with a sanitizer that the build's compiler flags do not name"
         exit 77 ;;
    esac
  fi
}

# With no library path set, the program must find the installed library
# through its RUNPATH, by SONAME.
check_loads_installed() {
  local exe=$1
  local loaded
  loaded=$(env -u LD_LIBRARY_PATH ldd "$exe" | awk '$1 == "libtracelib.so.'"$major"'" { print $3 }')
  [ -n "$loaded" ] || fail "$exe does not load libtracelib.so.$major"
  [ "$(readlink -f "$loaded")" = "$(readlink -f "$libdir/libtracelib.so.$version")" ] ||
    fail "$exe loads $loaded, not the installed library"
}

run_consumer() {
  local exe=$1 out=$2
  check_loads_installed "$exe"
  rm -f "$out"
  env -u LD_LIBRARY_PATH "$exe" "$out"
  [ -s "$out" ] || fail "$out is empty"
}

case $mode in
install)
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix"

  # Library file, SONAME link and development link.
  lib=$libdir/libtracelib.so.$version
  if [ ! -f "$lib" ] || [ -L "$lib" ]; then
    fail "$lib is missing or not a file"
  fi
  [ "$(readlink "$libdir/libtracelib.so.$major")" = "libtracelib.so.$version" ] ||
    fail "libtracelib.so.$major does not point at libtracelib.so.$version"
  [ "$(readlink "$libdir/libtracelib.so")" = "libtracelib.so.$major" ] ||
    fail "libtracelib.so does not point at libtracelib.so.$major"
  soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "libtracelib.so.$major" ] || fail "SONAME is '$soname', not libtracelib.so.$major"
  if readelf -d "$lib" | grep -E '(RPATH|RUNPATH)' | grep -F "$build" >/dev/null; then
    fail "the installed library still searches the build tree"
  fi

  # Every public header, in one folder, and nothing installed that points
  # back at the source or build tree.
  for h in "$source"/include/*.h "$source"/common/include/*.h "$source"/host/*.h; do
    [ -f "$includedir/tracelib/$(basename "$h")" ] || fail "header $(basename "$h") not installed"
  done
  [ -f "$includedir/tracelib/hostsim/hostsim.h" ] || fail "reference host headers not installed"
  for f in "$libdir/libtracehost.a" "$libdir/libtraceclock.a" \
           "$libdir/cmake/tracelib/tracelibConfig.cmake" \
           "$libdir/cmake/tracelib/tracelibConfigVersion.cmake" \
           "$libdir/pkgconfig/tracelib.pc" "$libdir/pkgconfig/tracehost.pc"; do
    [ -f "$f" ] || fail "$f not installed"
  done
  if grep -rlF -e "$source" -e "$build" "$libdir/cmake" "$libdir/pkgconfig"; then
    fail "installed package files name the source or build tree"
  fi
  if [ "${TRACELIB_TOOLS:-0}" = 1 ]; then
    [ -x "$prefix/bin/tracereplay" ] || fail "tracereplay not installed"
    check_loads_installed "$prefix/bin/tracereplay"
  fi
  echo "installed into $prefix"
  ;;

cmake)
  [ -d "$prefix" ] || fail "nothing installed in $prefix"
  check_sanitizer_flags
  out=$work/cmake-consumer
  rm -rf "$out"
  # Nothing but the installed tree is on the search path.
  CC=${CONSUMER_CC:-cc} CXX=$cxx cmake -S "$source/tests/install/consumer" -B "$out" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DEXPECTED_TRACELIB_VERSION="$version"
  cmake --build "$out"
  run_consumer "$out/consumer" "$out/trace.txt"
  ;;

pkgconfig)
  [ -d "$prefix" ] || fail "nothing installed in $prefix"
  check_sanitizer_flags
  out=$work/pkgconfig-consumer
  rm -rf "$out"
  mkdir -p "$out"
  export PKG_CONFIG_PATH=$libdir/pkgconfig
  unset PKG_CONFIG_LIBDIR
  found=$(pkg-config --modversion tracelib)
  [ "$found" = "$version" ] || fail "pkg-config reports tracelib $found, expected $version"
  pclibdir=$(pkg-config --variable=libdir tracelib)
  [ "$(readlink -f "$pclibdir")" = "$(readlink -f "$libdir")" ] ||
    fail "tracelib.pc gives libdir $pclibdir, not $libdir"
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++17 $cxxflags -o "$out/consumer" "$source/tests/install/consumer/main.cpp" \
    $(pkg-config --cflags tracelib tracehost) \
    $ldflags $(pkg-config --libs tracelib tracehost) -Wl,-rpath,"$pclibdir"
  run_consumer "$out/consumer" "$out/trace.txt"
  ;;

*)
  fail "unknown mode $mode"
  ;;
esac
