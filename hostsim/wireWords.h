// Conversion between wire bytes and the host-order 32-bit words the reference
// host stores. Used by the frame parsers; owns nothing.
#ifndef HOSTSIM_WIREWORDS_H
#define HOSTSIM_WIREWORDS_H

#include <stddef.h>
#include <stdint.h>

inline uint32_t hostsimBe16(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

inline uint32_t hostsimBe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Stores ceil(count / 4) words read big-endian from src; the bytes missing
// from the last word read as zero.
void hostsimLoadWords(const uint8_t* src, size_t count, uint32_t* dest);

#endif
