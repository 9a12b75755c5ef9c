#include "capture.h"

#include <pcap/pcap.h>

#include "frameDecode.h"

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

namespace {

bool isEarlier(const struct timeval& a, const struct timeval& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

}  // namespace

CaptureMerge::CaptureMerge(std::vector<std::unique_ptr<CaptureFile>> files,
                           Diagnostics& diagnostics)
    : diagnostics_(diagnostics)
{
    for (auto& file : files) {
        std::string error;
        if (!file->open(error)) {
            diagnostics_.fileError(file->path(), error);
            continue;
        }
        sources_.push_back(Source{std::move(file), {}, false, false});
    }
    for (Source& source : sources_)
        refill(source);
}

void CaptureMerge::refill(Source& source)
{
    source.hasPending = false;
    if (source.done)
        return;
    std::string error;
    switch (source.file->next(source.pending, error)) {
        case CaptureFile::Read::Frame:
            source.hasPending = true;
            return;
        case CaptureFile::Read::Error:
            diagnostics_.frameError(source.file->path(), source.pending.number, error);
            break;
        case CaptureFile::Read::End:
            break;
    }
    source.done = true;
}

bool CaptureMerge::next(MergedFrame& merged)
{
    if (handedOut_) {
        refill(*handedOut_);
        handedOut_ = nullptr;
    }
    Source* earliest = nullptr;
    for (Source& source : sources_) {
        if (!source.hasPending)
            continue;
        if (!earliest || isEarlier(source.pending.time, earliest->pending.time))
            earliest = &source;
    }
    if (!earliest)
        return false;
    merged.frame = earliest->pending;
    merged.file = earliest->file.get();
    handedOut_ = earliest;
    return true;
}

}  // namespace replay
