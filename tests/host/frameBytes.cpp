#include "frameBytes.h"

#include <algorithm>
#include <iterator>

namespace {

void put(Bytes& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The PLOGI/LS_ACC service parameters: 112 bytes after the command word,
// with the port and node names at their usual offsets (payload 20 and 28).
Bytes loginParameters()
{
    Bytes p(112, 0);
    const uint8_t common[] = {0x20, 0x20, 0x00, 0x00, 0x88, 0x00, 0x08, 0x00,
                              0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x07, 0xd0};
    const uint8_t names[] = {0x10, 0x00, 0x00, 0x05, 0x1e, 0x12, 0x34, 0x56,
                             0x20, 0x00, 0x00, 0x05, 0x1e, 0x12, 0x34, 0x56};
    std::copy(std::begin(common), std::end(common), p.begin());
    std::copy(std::begin(names), std::end(names), p.begin() + 16);
    return p;
}

}  // namespace

Bytes fcHeader(const FcHeaderFields& h)
{
    Bytes out;
    put(out, h.rctl, 1);
    put(out, h.did, 3);
    put(out, 0, 1);            // CS_CTL
    put(out, h.sid, 3);
    put(out, h.type, 1);
    put(out, h.fctl, 3);
    put(out, 0, 4);            // SEQ_ID, DF_CTL, SEQ_CNT
    put(out, h.oxid, 2);
    put(out, h.rxid, 2);
    put(out, h.parameter, 4);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes plogiRequest()
{
    return concat({fcHeader({0x22, 0xfffffc, 0x010200, 0x01, 0x290000, 0x1234, 0xffff, 0}),
                   {0x03, 0x00, 0x00, 0x00}, loginParameters()});
}

Bytes plogiAccept()
{
    return concat({fcHeader({0x23, 0x010200, 0xfffffc, 0x01, 0x990000, 0x1234, 0x0456, 0}),
                   {0x02, 0x00, 0x00, 0x00}, loginParameters()});
}

Bytes fcpCommand()
{
    Bytes cmnd = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // LUN 1
                  0x00, 0x00, 0x00, 0x02,                           // read data
                  0x28, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,   // READ(10)
                  0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                  0x00, 0x00, 0x10, 0x00};                          // FCP_DL 4096
    return concat({fcHeader({0x06, 0x020300, 0x010200, 0x08, 0x290000, 0x0042, 0xffff, 0}),
                   cmnd});
}

Bytes fcFrameWith(uint8_t rctl, const Bytes& payload, uint32_t parameter)
{
    return concat({fcHeader({rctl, 0x010200, 0x020300, 0x01, 0x990000, 0x0042, 0x0043,
                             parameter}),
                   payload});
}

const Bytes kDstMac = {0x00, 0x1b, 0x21, 0x3a, 0x4f, 0x5e};
const Bytes kSrcMac = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};

Bytes ethernetFrame(const std::vector<Bytes>& tags, uint16_t etherType, const Bytes& payload)
{
    Bytes out = concat({kDstMac, kSrcMac});
    for (const Bytes& tag : tags)
        out.insert(out.end(), tag.begin(), tag.end());
    put(out, etherType, 2);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes ipv4Header()
{
    return {0x45, 0x00, 0x00, 0x54, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x01,
            0xa0, 0x5b, 0xc0, 0xa8, 0x01, 0x0a, 0xc0, 0xa8, 0x01, 0x01};
}
