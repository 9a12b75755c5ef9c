// One capture file (pcap or pcapng) read frame by frame through libpcap.
#ifndef TOOLS_TRACEREPLAY_CAPTUREFILE_H
#define TOOLS_TRACEREPLAY_CAPTUREFILE_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include <string>
#include <utility>

#include "hostFrame.h"

typedef struct pcap pcap_t;

namespace replay {

struct CapturedFrame {
    const uint8_t* bytes = nullptr;   // valid until the file reads its next frame
    size_t length = 0;                // bytes captured (may be fewer than on the wire)
    struct timeval time {};
    unsigned long number = 0;         // 1 for the first frame of the file
};

class CaptureFile {
public:
    CaptureFile(std::string path, port_id_t port) : path_(std::move(path)), port_(port) {}
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Opens the file and checks its link type; the text says why not.
    bool open(std::string& error);

    enum class Read { Frame, End, Error };
    // The next frame; on Error, `error` says what is wrong at frame.number.
    Read next(CapturedFrame& frame, std::string& error);

    const std::string& path() const { return path_; }
    port_id_t port() const { return port_; }
    int linkType() const { return linkType_; }

private:
    std::string path_;
    port_id_t port_;
    pcap_t* pcap_ = nullptr;
    int linkType_ = -1;
    unsigned long frames_ = 0;
};

}  // namespace replay

#endif
