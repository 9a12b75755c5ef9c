#include "readFilter.h"

#include "frameDecode.h"

namespace replay {

namespace {

// What libpcap assumes when a file gives no snap length; a program compiled
// for a snap length of 0 would match nothing.
constexpr uint32_t kLargestSnapLength = 262144;

}  // namespace

ReadFilter::~ReadFilter()
{
    for (Program& program : programs_)
        if (program.compiled)
            pcap_freecode(&program.code);
}

ReadFilter::Program& ReadFilter::programFor(int linkType, uint32_t snapLength)
{
    if (snapLength == 0)
        snapLength = kLargestSnapLength;
    for (Program& program : programs_)
        if (program.linkType == linkType && program.snapLength == snapLength)
            return program;
    Program program{linkType, snapLength, false, {}, {}};
    pcap_t* dead = pcap_open_dead(linkType, static_cast<int>(snapLength));
    if (!dead) {
        program.error = "cannot make a libpcap handle";
    } else if (pcap_compile(dead, &program.code, expression_.c_str(), 1, PCAP_NETMASK_UNKNOWN) ==
               0) {
        program.compiled = true;
    } else {
        program.error = pcap_geterr(dead);
    }
    if (dead)
        pcap_close(dead);
    programs_.push_back(program);
    return programs_.back();
}

bool ReadFilter::check(std::string& error)
{
    for (int linkType : kSupportedLinkTypes)
        if (programFor(linkType, 0).compiled)
            return true;
    error = programFor(kLinkEthernet, 0).error;
    return false;
}

ReadFilter::Verdict ReadFilter::matches(const CapturedFrame& frame, std::string& error)
{
    const Program& program = programFor(frame.linkType, frame.snapLength);
    if (!program.compiled) {
        const char* name = pcap_datalink_val_to_name(frame.linkType);
        error = std::string("link type ") + (name ? name : "unknown") + " (" +
                std::to_string(frame.linkType) + "): " + program.error;
        return Verdict::Error;
    }
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(frame.micros / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(frame.micros % 1000000);
    header.caplen = static_cast<bpf_u_int32>(frame.length);
    header.len = static_cast<bpf_u_int32>(frame.wireLength);
    return pcap_offline_filter(&program.code, &header, frame.bytes) != 0 ? Verdict::Match
                                                                         : Verdict::NoMatch;
}

}  // namespace replay
