#include "fcoe.h"

namespace replay {

namespace {

struct SofCode { uint8_t code; HostsimSof sof; };
struct EofCode { uint8_t code; HostsimEof eof; };

const SofCode kSofCodes[] = {
    {0x28, HOSTSIM_SOF_F},  {0x2D, HOSTSIM_SOF_I2}, {0x35, HOSTSIM_SOF_N2},
    {0x2E, HOSTSIM_SOF_I3}, {0x36, HOSTSIM_SOF_N3}, {0x29, HOSTSIM_SOF_I4},
    {0x31, HOSTSIM_SOF_N4}, {0x39, HOSTSIM_SOF_C4},
};

const EofCode kEofCodes[] = {
    {0x41, HOSTSIM_EOF_N},  {0x42, HOSTSIM_EOF_T}, {0x49, HOSTSIM_EOF_NI},
    {0x50, HOSTSIM_EOF_A},
};

uint32_t bigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

HostsimSof fcoeSof(uint8_t code)
{
    for (const SofCode& c : kSofCodes)
        if (c.code == code)
            return c.sof;
    return HOSTSIM_SOF_UNKNOWN;
}

HostsimEof fcoeEof(uint8_t code)
{
    for (const EofCode& c : kEofCodes)
        if (c.code == code)
            return c.eof;
    return HOSTSIM_EOF_UNKNOWN;
}

bool unpackFcoe(const uint8_t* payload, size_t length, FcoeContent& content)
{
    if (length < kFcoeHeaderBytes + kHostsimFcHeaderBytes + kFcoeTrailerBytes)
        return false;
    content.frame = payload + kFcoeHeaderBytes;
    content.frameBytes = length - kFcoeHeaderBytes - kFcoeTrailerBytes;
    const uint8_t* trailer = content.frame + content.frameBytes;
    content.sof = fcoeSof(payload[kFcoeHeaderBytes - 1]);
    content.eof = fcoeEof(trailer[4]);
    content.crc = bigEndian32(trailer);
    return true;
}

}  // namespace replay
