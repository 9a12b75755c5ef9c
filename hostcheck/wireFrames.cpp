// The frames the kit carries, as wire bytes, and how to read them by the
// host contract: wire words are big-endian; the kit compares them with the
// host's native words by value.
#include "checkKit.h"

#include "byteOrder.h"
#include "frameFilter.h"

namespace hostcheck {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kFcHeaderBytes = 24;
constexpr size_t kMacBytes = 12;
constexpr size_t kTagBytes = 4;
constexpr unsigned kMaxTags = 2;

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

// The six header words (R_CTL|D_ID, CS_CTL|S_ID, TYPE|F_CTL,
// SEQ_ID|DF_CTL|SEQ_CNT, OX_ID|RX_ID, Parameter), then the payload.
Bytes fc(std::initializer_list<uint32_t> header, const Bytes& payload)
{
    Bytes bytes = words(header);
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
        {"fc-plogi", Kind::fc, fc({0x22fffffc, 0x010200, 0x01290000, 0, 0x1234ffff, 0}, kPlogi),
         kPort, ""},
        {"fc-flogi", Kind::fc,
         fc({0x22fffffe, 0, 0x01290000, 0, 0x0001ffff, 0}, words({0x04000000, 0})), kPortPair, ""},
        {"fc-ls-acc", Kind::fc, fc({0x23010200, 0xfffffc, 0x01990000, 0, 0x12340456, 0}, kLsAcc),
         kPort, ""},
        {"fc-ls-rjt", Kind::fc,
         fc({0x23010200, 0xfffffe, 0x01990000, 0, 0x0001ffff, 0}, words({0x01000000, 0x00090300})),
         kPort, ""},
        {"fc-cs-ctl", Kind::fc, fc({0x22fffffc, 0x80010200, 0x01290000, 0, 0x1235ffff, 0}, kPlogi),
         kPort, "CS_CTL 0x80 above S_ID"},
        {"fc-fcp-cmnd", Kind::fc,
         fc({0x06020300, 0x010200, 0x08290000, 0, 0x0042ffff, 0},
            words({0x00010000, 0, 2, 0x28000000, 0x10000000, 0x08000000, 0, 0x1000})),
         kPortPair, ""},
        {"fc-fcp-data", Kind::fc,
         fc({0x01010200, 0x7f020300, 0x08880008, 0x5a001234, 0x00420077, 0x00010000},
            words({0xdeadbeef, 0x01234567})),
         kPort, "CS_CTL 0x7f, F_CTL 0x880008, SEQ_ID 0x5a, SEQ_CNT 0x1234, Parameter 0x00010000"},
        {"fc-network-header", Kind::fc,
         fc({0x04020300, 0x010200, 0x05380000, 0x01200003, 0x00430078, 0x00000004},
            words({0x10000000, 0xc9123456, 0x10000000, 0xc9654321, 0xaaaa0300, 0x00000800})),
         kPort, "DF_CTL 0x20: a 16-byte network header starts the payload"},
        {"fc-ba-acc", Kind::fc,
         fc({0x84020300, 0x010200, 0x00980000, 0, 0x00420077, 0},
            words({0x00000042, 0x0077ffff, 0})),
         kPort, ""},
        {"fc-ct-request", Kind::fc,
         fc({0x02fffffc, 0x010200, 0x20290000, 0, 0x0010ffff, 0}, words({0x01000000, 0xfc020000})),
         kPort, ""},
        {"fc-els-no-payload", Kind::fc,
         fc({0x22fffffc, 0x010200, 0x01290000, 0, 0x1234ffff, 0}, {}), kPort, "no payload word"},
        {"fc-els-3-payload-bytes", Kind::fc,
         fc({0x22fffffc, 0x010200, 0x01290000, 0, 0x1234ffff, 0}, {0x03, 0, 0}), kPort,
         "a payload of 3 bytes"},
        {"eth-ipv4", Kind::ethernet, eth({}, 0x0800, kIpv4), kPort, ""},
        {"eth-arp", Kind::ethernet, eth({}, 0x0806, kArp), kPort, ""},
        {"eth-vlan-ipv4", Kind::ethernet, eth({kCTag}, 0x0800, kIpv4), kPortPair, "one VLAN tag"},
        {"eth-qinq-ipv4", Kind::ethernet, eth({kSTag, kCTag}, 0x0800, kIpv4), kPort,
         "two VLAN tags"},
        {"eth-fcoe", Kind::ethernet, eth({kCTag}, 0x8906, kFcoe), kPort, ""},
        {"eth-runt", Kind::ethernet, eth({}, 0x0800, {0x45, 0}), kPort, "2 payload bytes"},
        {"eth-vlan-runt", Kind::ethernet, eth({kCTag}, 0x0800, {}), kPort,
         "one VLAN tag, no payload"},
        {"eth-odd-length", Kind::ethernet, eth({}, 0x86dd, {0x60, 0, 0, 0, 0, 0x3a, 0xff}),
         kPortPair, "7 payload bytes"},
    };
    return frames;
}

const std::vector<WireFrame>& refusedFrames()
{
    static const std::vector<WireFrame> frames = {
        {"eth-cut-in-tag", Kind::ethernet, eth({}, 0x8100, {}), kPort,
         "a VLAN TPID, then the frame ends"},
        {"eth-tag-without-ethertype", Kind::ethernet, eth({}, 0x8100, {0, 0x64}), kPort,
         "one VLAN tag, then the frame ends"},
        {"eth-tag-half-ethertype", Kind::ethernet, eth({}, 0x8100, {0, 0x64, 0x08}), kPort,
         "one VLAN tag, then one byte"},
        {"eth-qinq-without-ethertype", Kind::ethernet, eth({kSTag}, 0x8100, {0, 0x64}), kPort,
         "two VLAN tags, then the frame ends"},
    };
    return frames;
}

uint32_t wireWord(const WireFrame& frame, size_t byteOffset)
{
    return readBigEndian32(frame.bytes.data() + byteOffset);
}

bool isEls(const WireFrame& frame)
{
    return frame.kind == Kind::fc && (wireWord(frame, 0) & TraceFrameFilter::kElsRoutingMask) ==
                                         TraceFrameFilter::kElsRoutingValue;
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
