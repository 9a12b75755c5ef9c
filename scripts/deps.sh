#!/usr/bin/env bash
# Installs the Debian packages that building, testing, replaying and
# benchmarking need, when they are missing. Safe to run again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  libpcap-dev zlib1g-dev tshark
  g++-multilib
  qemu-user   # runs the -m32 tests where the kernel cannot run 32-bit programs
  clang libclang-rt-14-dev
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # tshark asks whether non-root users may capture; the preseed answers no.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
