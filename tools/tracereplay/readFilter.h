// The read filter: a tcpdump filter expression (-f, -F) that selects the
// frames to replay. libpcap compiles it, once for each link type and snap
// length the inputs have (every pcapng interface may differ), on a dead
// handle, and pcap_offline_filter applies it to each frame as captured. The
// filter owns its compiled programs.
#ifndef TOOLS_TRACEREPLAY_READFILTER_H
#define TOOLS_TRACEREPLAY_READFILTER_H

#include <pcap/pcap.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "capture.h"

namespace replay {

class ReadFilter {
public:
    explicit ReadFilter(std::string expression) : expression_(std::move(expression)) {}
    ~ReadFilter();
    ReadFilter(const ReadFilter&) = delete;
    ReadFilter& operator=(const ReadFilter&) = delete;

    // Compiles the expression for every link type the replay reads; false,
    // with libpcap's message, when it compiles for none of them (a syntax
    // error, an unknown host name).
    bool check(std::string& error);

    enum class Verdict { Match, NoMatch, Error };
    // Error: the expression does not compile for the frame's link type;
    // `error` holds libpcap's message.
    Verdict matches(const CapturedFrame& frame, std::string& error);

private:
    struct Program {
        int linkType;
        uint32_t snapLength;
        bool compiled;
        bpf_program code;
        std::string error;  // libpcap's message when not compiled
    };

    Program& programFor(int linkType, uint32_t snapLength);

    std::string expression_;
    std::vector<Program> programs_;
};

}  // namespace replay

#endif
