// Wire images of the frames the host tests parse: FC ELS and FCP frames and
// Ethernet frames, byte for byte as a capture would show them.
#ifndef HOSTSIM_TESTS_FRAMEBYTES_H
#define HOSTSIM_TESTS_FRAMEBYTES_H

#include <stdint.h>

#include <vector>

using Bytes = std::vector<uint8_t>;

struct FcHeaderFields {
    uint8_t rctl;
    uint32_t did;
    uint32_t sid;
    uint8_t type;
    uint32_t fctl;
    uint16_t oxid;
    uint16_t rxid;
    uint32_t parameter;
};

Bytes fcHeader(const FcHeaderFields& h);
Bytes concat(std::initializer_list<Bytes> parts);

Bytes plogiRequest();      // PLOGI from 010200 to the name server fffffc
Bytes plogiAccept();       // its LS_ACC
Bytes fcpCommand();        // FCP_CMND, READ(10)
Bytes fcFrameWith(uint8_t rctl, const Bytes& payload, uint32_t parameter = 0);

extern const Bytes kDstMac;
extern const Bytes kSrcMac;
Bytes ethernetFrame(const std::vector<Bytes>& tags, uint16_t etherType, const Bytes& payload);
Bytes ipv4Header();        // 20 bytes, starts 45 00 00 54

#endif
