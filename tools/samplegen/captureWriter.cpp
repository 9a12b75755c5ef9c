#include "captureWriter.h"

#include <pcap/pcap.h>

#include <stdexcept>

namespace samplegen {

namespace {
constexpr int kSnapLength = 65535;
}

CaptureWriter::CaptureWriter(const std::string& path, int linkType)
{
    pcap_ = pcap_open_dead(linkType, kSnapLength);
    if (!pcap_)
        throw std::runtime_error("pcap_open_dead failed for link type " + std::to_string(linkType));
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (!dumper_) {
        std::string error = pcap_geterr(pcap_);
        pcap_close(pcap_);
        throw std::runtime_error(path + ": " + error);
    }
}

CaptureWriter::~CaptureWriter()
{
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
}

void CaptureWriter::write(int64_t micros, const Bytes& frame)
{
    struct pcap_pkthdr header {};
    header.ts.tv_sec = static_cast<time_t>(micros / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame.data());
}

}  // namespace samplegen
