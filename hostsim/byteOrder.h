// Big-endian (network order) words read out of byte buffers: wire frames and
// capture files. Header-only, shared by the reference host, the tools and the
// host check kit; the library itself never reads wire bytes.
#ifndef HOSTSIM_BYTEORDER_H
#define HOSTSIM_BYTEORDER_H

#include <stdint.h>

inline uint16_t readBigEndian16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t readBigEndian32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

#endif
