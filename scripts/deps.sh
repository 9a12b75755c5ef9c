#!/usr/bin/env bash
# Installs the Debian packages one job needs, when they are missing:
#
#   scripts/deps.sh build    the library and tracereplay (the replay job)
#   scripts/deps.sh test     build, plus the test suite's stages
#   scripts/deps.sh bench    build, plus Google Benchmark
#
# Runs apt-get as root, or through sudo. Never removes a package: apt-get is
# told to refuse any install that would remove one (Debian's multilib
# compilers, for one, conflict with every cross compiler), so nothing here
# conflicts with what is installed. Talks on standard error only: one line
# when it installs, the full apt log in $DEPS_LOG (default build/deps.log).
set -euo pipefail

build=(cmake g++ make binutils pkg-config libpcap-dev zlib1g-dev libzstd-dev)
test=(
  libgtest-dev libgmock-dev googletest           # GoogleTest, and its sources for cross builds
  tshark                                         # the replay tool's cross-check
  tcpdump                                        # captures and filters the replay tests compare with
  zstd                                           # compresses captures in the replay tests
  man-db                                         # renders the manual pages in their check
  clang libclang-rt-14-dev                       # the fuzz targets
  valgrind
  rsyslog                                        # the mirroring tests' own log daemon
  qemu-user                                      # runs the cross-built suites
  g++-i686-linux-gnu g++-arm-linux-gnueabihf g++-powerpc-linux-gnu
)
bench=(libbenchmark-dev python3)

case "${1:-}" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  bench) packages=("${build[@]}" "${bench[@]}") ;;
  *) echo "usage: scripts/deps.sh build|test|bench" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

log=${DEPS_LOG:-build/deps.log}
mkdir -p "$(dirname "$log")"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "deps: installing ${missing[*]} with apt-get (log: $log)" >&2
export DEBIAN_FRONTEND=noninteractive
{
  $sudo apt-get update -q &&
  # tshark asks whether non-root users may capture; the preseed answers no.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    $sudo debconf-set-selections &&
  $sudo apt-get install -y -q --no-install-recommends --no-remove "${missing[@]}"
} >"$log" 2>&1 || { echo "deps: apt-get failed; the end of $log:" >&2; tail -20 "$log" >&2; exit 1; }
