// The capture input: one capture file (pcap or pcapng) read frame by frame,
// and several files played as one. Frames come in timestamp order across
// the files (a merge; equal times go to the file given first), each file's
// own frames in file order.
#ifndef TOOLS_TRACEREPLAY_CAPTURE_H
#define TOOLS_TRACEREPLAY_CAPTURE_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hostFrame.h"
#include "report.h"
typedef struct pcap pcap_t;

namespace replay {

struct CapturedFrame {
    const uint8_t* bytes = nullptr;  // valid until the file reads its next frame
    size_t length = 0;               // bytes captured (may be fewer than on the wire)
    struct timeval time {};
    unsigned long number = 0;  // 1 for the first frame of the file
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

struct MergedFrame {
    CapturedFrame frame;
    CaptureFile* file = nullptr;
};

class CaptureMerge {
public:
    // Files that failed to open are reported and left out.
    CaptureMerge(std::vector<std::unique_ptr<CaptureFile>> files, Diagnostics& diagnostics);

    // The next frame, or false when every file is done. A read error ends
    // that file's part of the merge (reported); the others go on.
    bool next(MergedFrame& merged);

    size_t openFiles() const { return sources_.size(); }

private:
    struct Source {
        std::unique_ptr<CaptureFile> file;
        CapturedFrame pending;
        bool hasPending = false;
        bool done = false;
    };

    void refill(Source& source);

    std::vector<Source> sources_;
    Diagnostics& diagnostics_;
    Source* handedOut_ = nullptr;  // its frame's bytes are in use until the next call
};

}  // namespace replay

#endif
