// Convenience owners for tests and tools: a raw record together with the
// frame object that points at it, built from a byte vector. Each object owns
// its record (about 20 KB, so prefer the heap or reuse for long runs); it
// can be neither copied nor moved, because the frame points into it.
#ifndef HOSTSIM_HOSTFRAMES_H
#define HOSTSIM_HOSTFRAMES_H

#include <stdint.h>

#include <vector>

#include "frameParse.h"
#include "hostFrame.h"

struct HostFcFrame {
    fcRawFrameStruct raw;
    fcFrame frame{&raw};
    HostsimStatus status = HOSTSIM_OK;

    HostFcFrame(const std::vector<uint8_t>& bytes, port_id_t port,
                HostsimFcOptions options = {});
    HostFcFrame(const HostFcFrame&) = delete;
    HostFcFrame& operator=(const HostFcFrame&) = delete;

    bool ok() const { return status == HOSTSIM_OK; }
};

struct HostEthFrame {
    fcRawFrameStruct raw;
    EthernetFrame frame{&raw};
    HostsimStatus status = HOSTSIM_OK;

    HostEthFrame(const std::vector<uint8_t>& bytes, port_id_t port,
                 HostsimEthOptions options = {});
    HostEthFrame(const HostEthFrame&) = delete;
    HostEthFrame& operator=(const HostEthFrame&) = delete;

    bool ok() const { return status == HOSTSIM_OK; }
};

#endif
