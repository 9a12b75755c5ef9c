// The frames the benchmarks trace, built by the reference host from wire
// bytes as a capture would show them: a Fibre Channel FCP command, an ELS
// port login and an untagged Ethernet IPv4/UDP frame, all received on port 5.
#ifndef TRACELIB_BENCH_BENCHFRAMES_H
#define TRACELIB_BENCH_BENCHFRAMES_H

#include "hostsim.h"

struct BenchFrames {
    HostFcFrame fcpCommand;  // R_CTL 06, FCP_CMND READ(10), 010200 -> 010300
    HostFcFrame plogi;       // R_CTL 22, ELS PLOGI, 010200 -> fffffc
    HostEthFrame ipv4Udp;    // 71 bytes, no VLAN tag, DNS query

    BenchFrames();
};

// One set for the whole run; aborts if the reference host rejects a frame.
BenchFrames& benchFrames();

constexpr uint16_t kBenchPort = 5;

#endif
