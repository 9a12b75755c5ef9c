#include "frameDecode.h"

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

DecodeStatus decodeFc(const uint8_t* bytes, size_t length, port_id_t port, HostsimFcOptions options,
                      fcRawFrameStruct& raw, DecodedFrame& frame)
{
    DecodeStatus status = fromHostsim(hostsimParseFc(bytes, length, port, options, &raw));
    if (status == DecodeStatus::Ok)
        noteFcSource(raw, frame);
    return status;
}

// The FC frame of an FCoE payload, with the FCoE delimiters and CRC entered
// into the record's descriptor as if they had come with the frame.
DecodeStatus decodeFcoe(const uint8_t* payload, size_t length, port_id_t port,
                        fcRawFrameStruct& raw, DecodedFrame& frame)
{
    FcoeContent content;
    if (!unpackFcoe(payload, length, content)) {
        raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
        return DecodeStatus::TooShort;
    }
    DecodeStatus status = decodeFc(content.frame, content.frameBytes, port, {}, raw, frame);
    if (status != DecodeStatus::Ok)
        return status;
    raw.record[HOSTSIM_D_SOF] = content.sof;
    raw.record[HOSTSIM_D_EOF] = content.eof;
    raw.record[HOSTSIM_D_HAS_CHECK] = 1;
    raw.record[HOSTSIM_D_CHECK_VALUE] = content.crc;
    return DecodeStatus::Ok;
}

DecodeStatus decodeEthernet(const uint8_t* bytes, size_t length, port_id_t port,
                            fcRawFrameStruct& raw, DecodedFrame& frame)
{
    DecodeStatus status = fromHostsim(hostsimParseEthernet(bytes, length, port, {}, &raw));
    if (status != DecodeStatus::Ok)
        return status;
    frame.kind = FrameKind::Ethernet;
    frame.hasSourceMac = true;
    EthernetFrame ethernet{&raw};
    ethernet.Get_S_ID(frame.sourceMac);
    if (raw.record[HOSTSIM_D_ETHERTYPE] != kEtherTypeFcoe)
        return DecodeStatus::Ok;
    size_t header = raw.record[HOSTSIM_D_HEADER_BYTES];
    return decodeFcoe(bytes + header, length - header, port, raw, frame);
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

DecodeStatus decodeFrame(const uint8_t* bytes, size_t length, int linkType, port_id_t port,
                         fcRawFrameStruct& raw, DecodedFrame& frame)
{
    frame = DecodedFrame{};
    switch (linkType) {
        case kLinkEthernet:
            return decodeEthernet(bytes, length, port, raw, frame);
        case kLinkFc2:
            return decodeFc(bytes, length, port, {}, raw, frame);
        case kLinkFc2Delimited:
            return decodeFc(bytes, length, port, {true, true}, raw, frame);
    }
    raw.record[HOSTSIM_D_KIND] = HOSTSIM_KIND_NONE;
    return DecodeStatus::UnsupportedLinkType;
}
}  // namespace replay
