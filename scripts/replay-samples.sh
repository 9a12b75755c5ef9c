#!/usr/bin/env bash
# The main job: builds traceLib and tracereplay (preset replay, build/replay)
# and replays the bundled sample captures through it: a fabric login seen on
# a host's and a target's port, and an Ethernet port with IP traffic and FCoE.
#
# Standard output is the saved trace file and nothing else. Installing
# (scripts/deps.sh build), configuring and building say one line each on
# standard error; their full logs are in build/replay/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/replay
mkdir -p "$build"

# step NAME LOG COMMAND...: runs the command with its output in LOG; on
# failure shows the end of the log.
step() {
  local name=$1 log=$2
  shift 2
  echo "replay-samples: $name (log: $log)" >&2
  "$@" >"$log" 2>&1 || { echo "replay-samples: $name failed:" >&2; tail -n 30 "$log" >&2; exit 1; }
}

DEPS_LOG=$build/deps.log scripts/deps.sh build
step configuring "$build/configure.log" cmake --preset replay
step building "$build/build.log" cmake --build --preset replay -j"$(nproc)"
"$build/tools/tracereplay" samples/fc-host.pcap samples/fc-target.pcap samples/eth-fcoe.pcap
