#include "frameDecode.h"

#include "frameParse.h"
#include "byteOrder.h"

namespace replay {
namespace {

struct SofCode {
    uint8_t code;
    HostsimSof sof;
};
struct EofCode {
    uint8_t code;
    HostsimEof eof;
};

const SofCode kSofCodes[] = {
    {0x28, HOSTSIM_SOF_F},  {0x2D, HOSTSIM_SOF_I2}, {0x35, HOSTSIM_SOF_N2}, {0x2E, HOSTSIM_SOF_I3},
    {0x36, HOSTSIM_SOF_N3}, {0x29, HOSTSIM_SOF_I4}, {0x31, HOSTSIM_SOF_N4}, {0x39, HOSTSIM_SOF_C4},
};

const EofCode kEofCodes[] = {
    {0x41, HOSTSIM_EOF_N},
    {0x42, HOSTSIM_EOF_T},
    {0x49, HOSTSIM_EOF_NI},
    {0x50, HOSTSIM_EOF_A},
};

constexpr size_t kDelimiterBytes = 4;
constexpr size_t kDelimitedTrailerBytes = 8;  // CRC and EOF

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

bool findFcFrame(const uint8_t* bytes, size_t length, size_t wireLength, size_t lead, size_t trail,
                 FcSpan& span)
{
    const size_t wire = wireLength > length ? wireLength : length;
    if (wire < lead + kHostsimFcHeaderBytes + trail)
        return false;
    const size_t end = length < wire - trail ? length : wire - trail;
    if (end < lead + kHostsimFcHeaderBytes)
        return false;
    span.frame = bytes + lead;
    span.frameBytes = end - lead < kHostsimMaxFrameBytes ? end - lead : kHostsimMaxFrameBytes;
    span.trailer = length >= wire ? bytes + wire - trail : nullptr;
    return true;
}
namespace {

DecodeStatus fromHostsim(HostsimStatus status)
{
    switch (status) {
        case HOSTSIM_OK:
            return DecodeStatus::Ok;
        case HOSTSIM_TOO_LONG:
            return DecodeStatus::TooLong;
        case HOSTSIM_NULL_ARGUMENT:
        case HOSTSIM_TOO_SHORT:
            break;
    }
    return DecodeStatus::TooShort;
}

void noteFcSource(fcRawFrameStruct& raw, DecodedFrame& frame)
{
    frame.kind = FrameKind::Fc;
    fcFrame fc{&raw};
    frame.sourceId = fc.Get_S_ID();
}

// The FC frame of `span` with its delimiters and CRC entered into the
// record's descriptor; a trailer that was not captured leaves no CRC and an
// unknown EOF.
DecodeStatus decodeFcSpan(const FcSpan& span, port_id_t port, HostsimSof sof, HostsimEof eof,
                          fcRawFrameStruct& raw, DecodedFrame& frame)
{
    DecodeStatus status = fromHostsim(hostsimParseFc(span.frame, span.frameBytes, port, {}, &raw));
    if (status != DecodeStatus::Ok)
        return status;
    noteFcSource(raw, frame);
    raw.record[HOSTSIM_D_SOF] = sof;
    raw.record[HOSTSIM_D_EOF] = span.trailer ? eof : HOSTSIM_EOF_UNKNOWN;
    raw.record[HOSTSIM_D_HAS_CHECK] = span.trailer ? 1 : 0;
    raw.record[HOSTSIM_D_CHECK_VALUE] = span.trailer ? readBigEndian32(span.trailer) : 0;
    return DecodeStatus::Ok;
}

DecodeStatus decodeFc(const uint8_t* bytes, size_t length, size_t wireLength, port_id_t port,
                      fcRawFrameStruct& raw, DecodedFrame& frame)
{
    FcSpan span;
    if (!findFcFrame(bytes, length, wireLength, 0, 0, span)) {
        raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
        return DecodeStatus::TooShort;
    }
    DecodeStatus status = fromHostsim(hostsimParseFc(span.frame, span.frameBytes, port, {}, &raw));
    if (status == DecodeStatus::Ok)
        noteFcSource(raw, frame);
    return status;
}

// SOF, header, payload, CRC, EOF: the delimiters are 4-byte ordered sets.
DecodeStatus decodeFcDelimited(const uint8_t* bytes, size_t length, size_t wireLength,
                               port_id_t port, fcRawFrameStruct& raw, DecodedFrame& frame)
{
    FcSpan span;
    if (!findFcFrame(bytes, length, wireLength, kDelimiterBytes, kDelimitedTrailerBytes, span)) {
        raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
        return DecodeStatus::TooShort;
    }
    const HostsimEof eof = span.trailer ? hostsimDecodeEof(span.trailer + 4) : HOSTSIM_EOF_UNKNOWN;
    return decodeFcSpan(span, port, hostsimDecodeSof(bytes), eof, raw, frame);
}

// The FC frame of an FCoE payload, with the FCoE delimiters and CRC entered
// into the record's descriptor as if they had come with the frame.
DecodeStatus decodeFcoe(const uint8_t* payload, size_t length, size_t wireLength, port_id_t port,
                        fcRawFrameStruct& raw, DecodedFrame& frame)
{
    FcSpan span;
    if (!findFcFrame(payload, length, wireLength, kFcoeHeaderBytes, kFcoeTrailerBytes, span)) {
        raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
        return DecodeStatus::TooShort;
    }
    const HostsimEof eof = span.trailer ? fcoeEof(span.trailer[4]) : HOSTSIM_EOF_UNKNOWN;
    return decodeFcSpan(span, port, fcoeSof(payload[kFcoeHeaderBytes - 1]), eof, raw, frame);
}

// Frames longer than the record holds are cut to it (an FCoE frame never is).
DecodeStatus decodeEthernet(const uint8_t* bytes, size_t length, size_t wireLength, port_id_t port,
                            fcRawFrameStruct& raw, DecodedFrame& frame)
{
    const size_t held = length < kHostsimMaxFrameBytes ? length : kHostsimMaxFrameBytes;
    DecodeStatus status = fromHostsim(hostsimParseEthernet(bytes, held, port, {}, &raw));
    if (status != DecodeStatus::Ok)
        return status;
    frame.kind = FrameKind::Ethernet;
    frame.hasSourceMac = true;
    EthernetFrame ethernet{&raw};
    ethernet.Get_S_ID(frame.sourceMac);
    if (raw.record[HOSTSIM_D_ETHERTYPE] != kEtherTypeFcoe)
        return DecodeStatus::Ok;
    const size_t header = raw.record[HOSTSIM_D_HEADER_BYTES];
    const size_t wire = wireLength > length ? wireLength : length;
    return decodeFcoe(bytes + header, length - header, wire - header, port, raw, frame);
}

}  // namespace

const char* decodeStatusText(DecodeStatus status)
{
    switch (status) {
        case DecodeStatus::Ok:
            return "ok";
        case DecodeStatus::UnsupportedLinkType:
            return "unsupported link type";
        case DecodeStatus::TooShort:
            return "frame too short for its headers";
        case DecodeStatus::TooLong:
            return "frame too long";
        case DecodeStatus::NotEthernet:
            return "cooked frame of a protocol without an EtherType";
    }
    return "unknown status";
}

DecodeStatus decodeFrame(const uint8_t* bytes, size_t length, size_t wireLength, int linkType,
                         port_id_t port, fcRawFrameStruct& raw, DecodedFrame& frame)
{
    frame = DecodedFrame{};
    switch (linkType) {
        case kLinkEthernet:
            return decodeEthernet(bytes, length, wireLength, port, raw, frame);
        case kLinkFc2:
            return decodeFc(bytes, length, wireLength, port, raw, frame);
        case kLinkFc2Delimited:
            return decodeFcDelimited(bytes, length, wireLength, port, raw, frame);
    }
    raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
    return DecodeStatus::UnsupportedLinkType;
}
}  // namespace replay
