#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, builds
# and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRACELIB_WERROR=ON
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
