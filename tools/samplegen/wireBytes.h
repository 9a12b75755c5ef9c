// Frames as byte vectors, and the big-endian appends every frame builder of
// the sample generator writes its fields with.
#ifndef TOOLS_SAMPLEGEN_WIREBYTES_H
#define TOOLS_SAMPLEGEN_WIREBYTES_H

#include <stdint.h>

#include <vector>

namespace samplegen {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void put24(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    put16(out, value);
}

inline void put32(Bytes& out, uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value);
}

inline void put64(Bytes& out, uint64_t value)
{
    put32(out, static_cast<uint32_t>(value >> 32));
    put32(out, static_cast<uint32_t>(value));
}

inline void append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

}  // namespace samplegen

#endif
