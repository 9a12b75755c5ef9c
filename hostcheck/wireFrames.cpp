// The frames the kit carries, as wire bytes, and how to read them by the
// host contract: wire words are big-endian; the kit compares them with the
// host's native words by value.
#include "checkKit.h"

namespace hostcheck {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kFcHeaderBytes = 24;
constexpr size_t kMacBytes = 12;
constexpr size_t kTagBytes = 4;
constexpr unsigned kMaxTags = 2;
constexpr uint32_t kElsRouting = 2;

void append(Bytes& bytes, uint32_t word)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(word >> shift));
}

Bytes words(std::initializer_list<uint32_t> list)
{
    Bytes bytes;
    for (uint32_t word : list)
        append(bytes, word);
    return bytes;
}

// Header: R_CTL|D_ID, CS_CTL|S_ID, TYPE|F_CTL, SEQ_ID|DF_CTL|SEQ_CNT,
// OX_ID|RX_ID, parameter; then the payload.
Bytes fc(uint32_t rctlDid, uint32_t sid, uint32_t type, uint32_t oxRx, const Bytes& payload)
{
    Bytes bytes = words({rctlDid, sid, type << 24 | 0x290000, 0, oxRx, 0});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// Destination 0e:fc:00:01:0a:0b, source 00:c0:dd:12:34:56, tags, EtherType.
Bytes eth(std::initializer_list<uint32_t> tags, uint16_t type, const Bytes& payload)
{
    Bytes bytes = words({0x0efc0001, 0x0a0b00c0, 0xdd123456});
    for (uint32_t tag : tags)
        append(bytes, tag);
    bytes.push_back(uint8_t(type >> 8));
    bytes.push_back(uint8_t(type));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

bool isVlanTpid(uint32_t type)
{
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

const port_id_t kPort = {7, 0, 0};
const port_id_t kPortPair = {0xFFFF, 2, 7};
const uint32_t kCTag = 0x81000064;
const uint32_t kSTag = 0x88a800c8;
const Bytes kIpv4 = words({0x45000054, 0x1c464000, 0x4001a05b, 0xc0a8010a, 0xc0a80101});
const Bytes kArp = words({0x00010800, 0x06040001, 0x525400aa, 0xbbccc0a8, 0x010a0000});
// FCoE: version and reserved bytes, SOF, then the encapsulated FC frame.
const Bytes kFcoe = words({0, 0, 0, 0x2e, 0x22fffffe, 0, 0x01290000});
const Bytes kPlogi = words({0x03000000, 0x20200000, 0x88000800, 0x00ff0000, 0x10000005});
const Bytes kLsAcc = words({0x02000000, 0x20200000, 0x88000800, 0x00ff0000, 0x10000005});

}  // namespace

const std::vector<WireFrame>& wireFrames()
{
    static const std::vector<WireFrame> frames = {
        {"fc-plogi", Kind::fc, fc(0x22fffffc, 0x010200, 0x01, 0x1234ffff, kPlogi), kPort},
        {"fc-flogi", Kind::fc, fc(0x22fffffe, 0, 0x01, 0x0001ffff, words({0x04000000, 0})),
         kPortPair},
        {"fc-ls-acc", Kind::fc, fc(0x23010200, 0xfffffc, 0x01, 0x12340456, kLsAcc), kPort},
        {"fc-ls-rjt", Kind::fc,
         fc(0x23010200, 0xfffffe, 0x01, 0x0001ffff, words({0x01000000, 0x00090300})), kPort},
        {"fc-fcp-cmnd", Kind::fc,
         fc(0x06020300, 0x010200, 0x08, 0x0042ffff,
            words({0x00010000, 0, 2, 0x28000000, 0x10000000, 0x08000000, 0, 0x1000})),
         kPortPair},
        {"fc-fcp-data", Kind::fc,
         fc(0x01010200, 0x020300, 0x08, 0x00420077, words({0xdeadbeef, 0x01234567})), kPort},
        {"fc-ba-acc", Kind::fc,
         fc(0x84020300, 0x010200, 0x00, 0x00420077, words({0x00000042, 0x0077ffff, 0})), kPort},
        {"fc-ct-request", Kind::fc,
         fc(0x02fffffc, 0x010200, 0x20, 0x0010ffff, words({0x01000000, 0xfc020000})), kPort},
        {"fc-els-no-payload", Kind::fc, fc(0x22fffffc, 0x010200, 0x01, 0x1234ffff, {}), kPort},
        {"fc-els-3-payload-bytes", Kind::fc,
         fc(0x22fffffc, 0x010200, 0x01, 0x1234ffff, {0x03, 0, 0}), kPort},
        {"eth-ipv4", Kind::ethernet, eth({}, 0x0800, kIpv4), kPort},
        {"eth-arp", Kind::ethernet, eth({}, 0x0806, kArp), kPort},
        {"eth-vlan-ipv4", Kind::ethernet, eth({kCTag}, 0x0800, kIpv4), kPortPair},
        {"eth-qinq-ipv4", Kind::ethernet, eth({kSTag, kCTag}, 0x0800, kIpv4), kPort},
        {"eth-fcoe", Kind::ethernet, eth({kCTag}, 0x8906, kFcoe), kPort},
        {"eth-runt", Kind::ethernet, eth({}, 0x0800, {0x45, 0}), kPort},
        {"eth-vlan-runt", Kind::ethernet, eth({kCTag}, 0x0800, {}), kPort},
    };
    return frames;
}

uint32_t wireWord(const WireFrame& frame, size_t byteOffset)
{
    const uint8_t* p = frame.bytes.data() + byteOffset;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool isEls(const WireFrame& frame)
{
    return frame.kind == Kind::fc && frame.bytes[0] >> 4 == kElsRouting;
}

size_t fcPayloadWords(const WireFrame& frame)
{
    return (frame.bytes.size() - kFcHeaderBytes) / 4;
}

unsigned vlanTags(const WireFrame& frame)
{
    unsigned tags = 0;
    size_t at = kMacBytes;
    while (tags < kMaxTags && isVlanTpid(uint32_t(frame.bytes[at]) << 8 | frame.bytes[at + 1])) {
        ++tags;
        at += kTagBytes;
    }
    return tags;
}

size_t ethPayloadOffset(const WireFrame& frame)
{
    return kMacBytes + kTagBytes * vlanTags(frame) + 2;
}

size_t ethPayloadWords(const WireFrame& frame)
{
    return (frame.bytes.size() - ethPayloadOffset(frame)) / 4;
}

}  // namespace hostcheck
