#include "frameDecode.h"

#include "fcoe.h"
#include "linkType.h"

namespace replay {

namespace {

DecodeStatus fromHostsim(HostsimStatus status)
{
    switch (status) {
    case HOSTSIM_OK: return DecodeStatus::Ok;
    case HOSTSIM_TOO_LONG: return DecodeStatus::TooLong;
    case HOSTSIM_NULL_ARGUMENT:
    case HOSTSIM_TOO_SHORT: break;
    }
    return DecodeStatus::TooShort;
}

void noteFcSource(fcRawFrameStruct& raw, DecodedFrame& frame)
{
    frame.kind = FrameKind::Fc;
    fcFrame fc{&raw};
    frame.sourceId = fc.Get_S_ID();
}

DecodeStatus decodeFc(const uint8_t* bytes, size_t length, port_id_t port,
                      HostsimFcOptions options, fcRawFrameStruct& raw, DecodedFrame& frame)
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
    frame.fcoe = true;
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
    case DecodeStatus::Ok: return "ok";
    case DecodeStatus::UnsupportedLinkType: return "unsupported link type";
    case DecodeStatus::TooShort: return "frame too short for its headers";
    case DecodeStatus::TooLong: return "frame too long";
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
