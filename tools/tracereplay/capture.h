// The capture input: capture files (pcap through libpcap, pcapng through
// the reader of replaycore, which keeps each packet's interface), from a
// path or from standard input, played as one stream in timestamp order.
//
// Each file is read through a reorder window of kReorderWindow frames: the
// earliest frame held is played first, so frames out of order by less than
// the window are put right while a sorted file costs one copy per frame. A
// frame that comes later than that (earlier than a frame already played)
// makes the merge stop; the run then starts over with that file sorted whole
// within a memory ceiling (FrameSort). A stream (standard input, a pipe, a
// FIFO: anything but a regular file) cannot be read twice: while one is
// among the inputs, late frames are played after the frames held, and
// reported.
#ifndef TOOLS_TRACEREPLAY_CAPTURE_H
#define TOOLS_TRACEREPLAY_CAPTURE_H

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostFrame.h"
#include "pcapng.h"
#include "report.h"

typedef struct pcap pcap_t;

namespace replay {

class Decompressor;

constexpr size_t kReorderWindow = 1024;
constexpr size_t kDefaultSortMemory = size_t{64} << 20;

struct CapturedFrame {
    const uint8_t* bytes = nullptr;  // valid until the next frame is asked for
    size_t length = 0;               // bytes captured
    size_t wireLength = 0;           // bytes on the wire: more than captured when cut
    int64_t micros = 0;              // capture time, microseconds since the epoch
    port_id_t port{0, 0, 0};
    int linkType = 0;
    uint32_t snapLength = 0;   // 0: none known
    unsigned long number = 0;  // 1 for the first frame of the file
};

// One file. Interface k of a pcapng file is traced on the first port plus
// k (a port pair A.B: A.B+k); a pcap file has one interface.
class CaptureFile {
public:
    explicit CaptureFile(std::string path) : path_(std::move(path)) {}
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Opens the file ("-": standard input) and checks its link types; the
    // text says why not. Every input is opened here.
    bool open(std::string& error);
    // Not a regular file: it cannot be read a second time.
    bool isStream() const { return stream_; }
    // The ports the file takes from its first port on (at least one): every
    // interface of a regular file, in all its sections; of a stream, those
    // described before its first frame.
    size_t interfaces() const;
    // Interface k is traced on `first` plus k (a pair A.B: A.B+k) for k below
    // interfaces(), or whenever `fixed` (the user gave the port); an
    // interface of a stream described later takes the port *spare, which is
    // then counted up, so that it collides with no other file's.
    void setPorts(port_id_t first, bool fixed, uint16_t* spare);
    // "interface K (section S) is port P", one line for each interface seen,
    // when the file has more than one.
    std::vector<std::string> portLines() const;

    enum class Read { Frame, End, Error };
    // The next frame in file order; on Error, `error` says what is wrong at
    // frame.number.
    Read next(CapturedFrame& frame, std::string& error);

    const std::string& path() const { return path_; }

private:
    bool openPcap(std::FILE* stream, std::string& error);
    bool openPcapng(std::FILE* stream, std::string& error);
    port_id_t portOf(size_t interface);
    // A compressed file's own problem explains a read error best.
    void preferDecompressionProblem(std::string& error) const;

    std::string path_;
    port_id_t firstPort_{0, 0, 0};
    bool fixedPorts_ = false;
    uint16_t* sparePort_ = nullptr;
    size_t described_ = 0;              // interfaces of the whole file, when known
    size_t reserved_ = 1;               // ports from firstPort_ on
    std::vector<port_id_t> latePorts_;  // interfaces() on, of a stream
    pcap_t* pcap_ = nullptr;            // owns its stream
    std::FILE* pcapngStream_ = nullptr;
    std::unique_ptr<PcapngReader> pcapng_;
    int linkType_ = 0;
    uint32_t snapLength_ = 0;
    unsigned long frames_ = 0;
    bool stream_ = false;
    const Decompressor* compressed_ = nullptr;  // owned by the stream it decompresses
};

struct InputFile {
    std::string path;
    std::optional<port_id_t> port;  // none: the next port after the files before
};

class ReadFilter;

// The frames read at all: those the read filter lets through (none: every
// frame), and no more than `count` of them from each file (0: no limit), so
// that a stream is not read further than the replay needs.
struct Selection {
    ReadFilter* filter = nullptr;
    unsigned long count = 0;
};

class CaptureMerge {
public:
    // Files that failed to open are reported and left out. `sortWhole`
    // names the files to sort whole; they share `sortMemory` bytes.
    CaptureMerge(const std::vector<InputFile>& inputs, const std::vector<std::string>& sortWhole,
                 size_t sortMemory, const Selection& selection, Report& report);
    ~CaptureMerge();

    // The next frame in time order, or false when every file is done or the
    // merge stopped (see restartWith). A read error ends that file's part of
    // the merge (reported); the others go on.
    bool next(CapturedFrame& frame, const std::string*& path);

    size_t openFiles() const { return sources_.size(); }
    // Which interface of which file became which port, for the report.
    void reportPorts(Report& report) const;
    // A file that must be read whole for a right order; empty when none.
    const std::string& restartWith() const { return restartWith_; }
    // Frames the read filter left out so far.
    unsigned long filteredOut() const { return filteredOut_; }
    // "FILE: filter: why" when the filter cannot be applied to a file's link
    // type; the merge then gives no more frames.
    const std::string& filterProblem() const { return filterProblem_; }

private:
    struct Source;
    void fill(Source& source);
    void fillSorted(Source& source);
    CaptureFile::Read readSelected(Source& source, CapturedFrame& frame, std::string& error);
    void take(Source& source, const CapturedFrame& frame);
    void noteOrder(Source& source, const CapturedFrame& frame);
    void readError(Source& source, unsigned long number, const std::string& error);

    std::vector<std::unique_ptr<Source>> sources_;
    Report& report_;
    Source* handedOut_ = nullptr;     // its earliest frame is in use until the next call
    int64_t lastPlayed_ = INT64_MIN;  // the latest time played so far
    bool canRestart_ = true;
    std::string restartWith_;
    uint16_t sparePort_ = 0;  // after the ports of every file
    Selection selection_;
    unsigned long filteredOut_ = 0;
    std::string filterProblem_;
};

}  // namespace replay

#endif
