#include "captureBuilder.h"

#include <pcap/pcap.h>

#include <stdexcept>

void writeCapture(const std::string& path, int linkType, const std::vector<TestFrame>& frames)
{
    pcap_t* pcap = pcap_open_dead(linkType, 65535);
    pcap_dumper_t* dumper = pcap ? pcap_dump_open(pcap, path.c_str()) : nullptr;
    if (!dumper)
        throw std::runtime_error("cannot write " + path);
    for (const TestFrame& frame : frames) {
        struct pcap_pkthdr header {};
        header.ts.tv_sec = static_cast<time_t>(frame.micros / 1000000);
        header.ts.tv_usec = static_cast<suseconds_t>(frame.micros % 1000000);
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(pcap);
}

namespace {

void put(Bytes& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes fcBytes(uint8_t rCtl, uint32_t dId, uint32_t sId, uint8_t type, uint16_t oxId,
              uint16_t rxId, const Bytes& payload)
{
    Bytes out;
    put(out, uint32_t{rCtl} << 24 | dId, 4);
    put(out, sId, 4);
    put(out, uint32_t{type} << 24, 4);
    put(out, 0, 4);
    put(out, uint32_t{oxId} << 16 | rxId, 4);
    put(out, 0, 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes ethBytes(const Bytes& dst, const Bytes& src, const std::vector<uint32_t>& tags,
               uint16_t etherType, const Bytes& payload)
{
    Bytes out(dst);
    out.insert(out.end(), src.begin(), src.end());
    for (uint32_t tag : tags)
        put(out, tag, 4);
    put(out, etherType, 2);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes fcoeBytes(const Bytes& fcFrame)
{
    Bytes out(13, 0);
    out.push_back(0x2E);
    out.insert(out.end(), fcFrame.begin(), fcFrame.end());
    put(out, 0, 4);
    out.push_back(0x42);
    put(out, 0, 3);
    return out;
}
