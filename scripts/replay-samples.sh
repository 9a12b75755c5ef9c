#!/usr/bin/env bash
# Builds traceLib and replays the bundled sample captures through it: a
# fabric login seen on a host's and a target's port, and an Ethernet port
# with IP traffic and FCoE. Prints the saved trace file to standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" -j"$(nproc)" --target tracereplay >&2

"$build/tools/tracereplay" samples/fc-host.pcap samples/fc-target.pcap samples/eth-fcoe.pcap
