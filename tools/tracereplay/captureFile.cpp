#include "captureFile.h"

#include <pcap/pcap.h>

#include "linkType.h"

namespace replay {

CaptureFile::~CaptureFile()
{
    if (pcap_)
        pcap_close(pcap_);
}

bool CaptureFile::open(std::string& error)
{
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_ = pcap_open_offline_with_tstamp_precision(path_.c_str(), PCAP_TSTAMP_PRECISION_MICRO,
                                                     message);
    if (!pcap_) {
        error = message;
        // libpcap names the file itself in some messages; the report already does.
        if (error.rfind(path_ + ": ", 0) == 0)
            error.erase(0, path_.size() + 2);
        return false;
    }
    linkType_ = pcap_datalink(pcap_);
    if (!isSupportedLinkType(linkType_)) {
        const char* name = pcap_datalink_val_to_name(linkType_);
        error = "unsupported link type " + std::to_string(linkType_) + " (" +
                (name ? name : "unknown") + "); supported: EN10MB (1), FC_2 (224), " +
                "FC_2_WITH_FRAME_DELIMS (225)";
        return false;
    }
    return true;
}

CaptureFile::Read CaptureFile::next(CapturedFrame& frame, std::string& error)
{
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = pcap_next_ex(pcap_, &header, &data);
    if (result == PCAP_ERROR_BREAK)
        return Read::End;
    frame.number = ++frames_;
    if (result != 1) {
        error = pcap_geterr(pcap_);
        return Read::Error;
    }
    frame.bytes = data;
    frame.length = header->caplen;
    frame.time = header->ts;
    return Read::Frame;
}

}  // namespace replay
