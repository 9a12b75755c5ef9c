#include "capture.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>

#include "cookedFrame.h"
#include "frameDecode.h"
#include "frameSort.h"
#include "compressedInput.h"
#include "hostsim.h"
#include "readFilter.h"

namespace replay {

namespace {

constexpr size_t kMagicBytes = 4;
constexpr size_t kStreamBuffer = 1 << 16;

// A file descriptor read as a stdio stream, with the magic number that was
// read to tell pcap from pcapng put back in front: standard input cannot be
// rewound, and both readers want the file from its first byte.
struct PrefixedInput {
    int fd;
    uint8_t prefix[kMagicBytes];
    size_t prefixBytes = 0;
    size_t prefixUsed = 0;
};

ssize_t readPrefixed(void* cookie, char* buffer, size_t size)
{
    auto* input = static_cast<PrefixedInput*>(cookie);
    size_t n = 0;
    while (n < size && input->prefixUsed < input->prefixBytes)
        buffer[n++] = static_cast<char>(input->prefix[input->prefixUsed++]);
    if (n == size)
        return static_cast<ssize_t>(n);
    ssize_t got;
    do
        got = read(input->fd, buffer + n, size - n);
    while (got < 0 && errno == EINTR);
    return got < 0 && n == 0 ? -1 : static_cast<ssize_t>(n + (got > 0 ? got : 0));
}

int closePrefixed(void* cookie)
{
    auto* input = static_cast<PrefixedInput*>(cookie);
    if (input->fd != STDIN_FILENO)
        close(input->fd);
    delete input;
    return 0;
}

// Reads up to `size` bytes, fewer only at the end of the input; -1 on error.
ssize_t readUpTo(int fd, uint8_t* buffer, size_t size)
{
    size_t n = 0;
    while (n < size) {
        ssize_t got = read(fd, buffer + n, size - n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        n += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(n);
}

// An SLL2 frame carries the index of the interface it was captured on: its
// port is that many past the port of its file (or pcapng interface). Any
// other frame keeps its port.
port_id_t withCookedInterface(port_id_t port, const CapturedFrame& frame)
{
    CookedFrame cooked;
    if (frame.linkType != kLinkCooked2 ||
        !parseCooked(frame.bytes, frame.length, kLinkCooked2, cooked))
        return port;
    const auto index = static_cast<uint16_t>(cooked.interfaceIndex);
    if (port.h0 == 0xFFFF)
        return hostsimPortPair(port.h1, static_cast<uint16_t>(port.h2 + index));
    return hostsimPort(static_cast<uint16_t>(port.h0 + index));
}

std::string linkTypeText(int linkType)
{
    const char* name = pcap_datalink_val_to_name(linkType);
    return "unsupported link type " + std::to_string(linkType) + " (" + (name ? name : "unknown") +
           "); supported: EN10MB (1), FC_2 (224), FC_2_WITH_FRAME_DELIMS (225), LINUX_SLL (113), "
           "LINUX_SLL2 (276)";
}

}  // namespace

CaptureFile::~CaptureFile()
{
    if (pcap_)
        pcap_close(pcap_);
    if (pcapngStream_)
        std::fclose(pcapngStream_);
}

// Every input is opened here, whatever it is: the one place that decides
// what a name refers to and how its bytes are read.
bool CaptureFile::open(std::string& error)
{
    const int fd = path_ == "-" ? STDIN_FILENO : ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat status;
    stream_ = fd == STDIN_FILENO || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode);
    auto* input = new PrefixedInput{fd, {}};
    ssize_t got = readUpTo(fd, input->prefix, kMagicBytes);
    if (got <= 0) {
        error = got == 0 ? "empty file" : std::strerror(errno);
        closePrefixed(input);
        return false;
    }
    input->prefixBytes = static_cast<size_t>(got);
    std::FILE* stream = fopencookie(input, "r", {readPrefixed, nullptr, nullptr, closePrefixed});
    if (!stream) {
        error = std::strerror(errno);
        closePrefixed(input);
        return false;
    }
    std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
    uint8_t m[kMagicBytes];
    size_t magicBytes = static_cast<size_t>(got);
    std::memcpy(m, input->prefix, magicBytes);
    if (isCompressed(m, magicBytes)) {
        magicBytes = kMagicBytes;
        stream = openDecompressed(stream, m, magicBytes, compressed_, error);
        if (!stream)
            return false;
        std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
    }
    const bool pcapng = magicBytes == kMagicBytes && (uint32_t{m[0]} << 24 | uint32_t{m[1]} << 16 |
                                                      uint32_t{m[2]} << 8 | m[3]) == kPcapngMagic;
    const bool opened = pcapng ? openPcapng(stream, error) : openPcap(stream, error);
    if (!opened)
        preferDecompressionProblem(error);
    return opened;
}

void CaptureFile::preferDecompressionProblem(std::string& error) const
{
    std::string problem = decompressionProblem(compressed_);
    if (!problem.empty())
        error = problem;
}

bool CaptureFile::openPcap(std::FILE* stream, std::string& error)
{
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_ = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, message);
    if (!pcap_) {
        error = message;
        preferDecompressionProblem(error);
        std::fclose(stream);  // and the decompressor with it
        compressed_ = nullptr;
        return false;
    }
    linkType_ = pcap_datalink(pcap_);
    snapLength_ = static_cast<uint32_t>(pcap_snapshot(pcap_));
    if (!isSupportedLinkType(linkType_)) {
        error = linkTypeText(linkType_);
        return false;
    }
    return true;
}

bool CaptureFile::openPcapng(std::FILE* stream, std::string& error)
{
    pcapngStream_ = stream;
    pcapng_ = std::make_unique<PcapngReader>(stream);
    if (pcapng_->peek(error) == PcapngReader::Read::Error)
        return false;
    // The ports of the next file follow this file's interfaces, all of them:
    // a regular file is opened once more to count them from the block
    // headers; a stream's later interfaces get spare ports instead, and so
    // do a compressed file's, whose raw bytes are no pcapng blocks.
    std::FILE* scan = stream_ || compressed_ ? nullptr : std::fopen(path_.c_str(), "rb");
    if (scan) {
        described_ = countPcapngInterfaces(scan);
        std::fclose(scan);
    }
    const auto& interfaces = pcapng_->interfaces();
    if (interfaces.empty())
        return true;  // no frames either
    auto supported = [](const PcapngInterface& i) { return isSupportedLinkType(i.linkType); };
    if (std::none_of(interfaces.begin(), interfaces.end(), supported)) {
        error = linkTypeText(interfaces.front().linkType);
        return false;
    }
    return true;
}

size_t CaptureFile::interfaces() const
{
    if (!pcapng_)
        return 1;
    return std::max<size_t>({1, described_, pcapng_->interfaces().size()});
}

void CaptureFile::setPorts(port_id_t first, bool fixed, uint16_t* spare)
{
    firstPort_ = first;
    fixedPorts_ = fixed;
    sparePort_ = spare;
    reserved_ = interfaces();
    latePorts_.clear();
}

port_id_t CaptureFile::portOf(size_t interface)
{
    if (interface >= reserved_ && !fixedPorts_) {
        while (latePorts_.size() <= interface - reserved_)
            latePorts_.push_back(hostsimPort((*sparePort_)++));
        return latePorts_[interface - reserved_];
    }
    const auto k = static_cast<uint16_t>(interface);
    if (firstPort_.h0 == 0xFFFF)
        return hostsimPortPair(firstPort_.h1, static_cast<uint16_t>(firstPort_.h2 + k));
    return hostsimPort(static_cast<uint16_t>(firstPort_.h0 + k));
}

std::vector<std::string> CaptureFile::portLines() const
{
    std::vector<std::string> lines;
    if (!pcapng_ || pcapng_->interfaces().size() < 2)
        return lines;
    const auto& interfaces = pcapng_->interfaces();
    for (size_t k = 0; k < interfaces.size(); ++k) {
        const port_id_t port = const_cast<CaptureFile*>(this)->portOf(k);
        const std::string text = port.h0 == 0xFFFF
                                     ? std::to_string(port.h1) + "." + std::to_string(port.h2)
                                     : std::to_string(port.h0);
        const std::string& name = interfaces[k].name;
        lines.push_back("interface " + std::to_string(k) + " (" +
                        (name.empty() ? "" : name + ", ") + "section " +
                        std::to_string(interfaces[k].section) + ") is port " + text);
    }
    return lines;
}

CaptureFile::Read CaptureFile::next(CapturedFrame& frame, std::string& error)
{
    if (pcapng_) {
        PcapngPacket packet;
        PcapngReader::Read read = pcapng_->next(packet, error);
        if (read == PcapngReader::Read::End)
            return Read::End;
        frame.number = ++frames_;
        if (read == PcapngReader::Read::Error) {
            preferDecompressionProblem(error);
            return Read::Error;
        }
        const PcapngInterface& interface = pcapng_->interfaces()[packet.interface];
        frame.bytes = packet.bytes;
        frame.length = packet.capturedBytes;
        frame.wireLength = packet.wireBytes;
        frame.micros = packet.micros;
        frame.linkType = interface.linkType;
        frame.snapLength = interface.snapLength;
        frame.port = withCookedInterface(portOf(packet.interface), frame);
        return Read::Frame;
    }
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = pcap_next_ex(pcap_, &header, &data);
    if (result == PCAP_ERROR_BREAK)
        return Read::End;
    frame.number = ++frames_;
    if (result != 1) {
        error = pcap_geterr(pcap_);
        preferDecompressionProblem(error);
        return Read::Error;
    }
    frame.bytes = data;
    frame.length = header->caplen;
    frame.wireLength = header->len;
    // The file's seconds are unsigned 32-bit (to 2106); libpcap hands them
    // on as signed, so times from 2038 on would read as from 1901.
    const int64_t seconds = static_cast<uint32_t>(header->ts.tv_sec);
    frame.micros = seconds * 1000000 + header->ts.tv_usec;
    frame.linkType = linkType_;
    frame.snapLength = snapLength_;
    frame.port = withCookedInterface(portOf(0), frame);
    return Read::Frame;
}

// One file's frames in time order: through the reorder window (a copy of
// each frame held, in a slot reused once the frame has been played), or,
// for a file that must be sorted whole, through a FrameSort.
struct CaptureMerge::Source {
    struct Held {
        CapturedFrame frame;
        std::vector<uint8_t> bytes;
        bool late = false;  // played after frames later than itself
    };

    std::unique_ptr<CaptureFile> file;
    std::vector<Held> held;
    std::vector<size_t> spare;  // slots of `held` free for the next frame
    std::deque<size_t> order;   // slots in play order, earliest first
    int64_t lastRead = std::numeric_limits<int64_t>::min();
    bool done = false;
    unsigned long selected = 0;  // frames read that the selection kept

    std::unique_ptr<FrameSort> sort;  // set: the file is sorted whole
    CapturedFrame sorted;             // the sort's earliest frame
    bool hasSorted = false;

    bool empty() const { return sort ? !hasSorted : order.empty(); }
    const CapturedFrame& earliest() const { return sort ? sorted : held[order.front()].frame; }
};

CaptureMerge::CaptureMerge(const std::vector<InputFile>& inputs,
                           const std::vector<std::string>& sortWhole, size_t sortMemory,
                           const Selection& selection, Report& report)
    : report_(report), selection_(selection)
{
    uint16_t nextPort = 0;
    for (const InputFile& input : inputs) {
        auto file = std::make_unique<CaptureFile>(input.path);
        std::string error;
        const bool opened = file->open(error);
        const size_t interfaces = opened ? file->interfaces() : 1;
        file->setPorts(input.port ? *input.port : hostsimPort(nextPort), input.port.has_value(),
                       &sparePort_);
        nextPort = static_cast<uint16_t>(nextPort + interfaces);
        if (input.port && input.port->h0 != 0xFFFF)
            sparePort_ = std::max<uint16_t>(sparePort_, input.port->h0 + interfaces);
        if (!opened) {
            report_.file(input.path, error);
            continue;
        }
        // A stream cannot be read a second time, so with one no file can.
        canRestart_ = canRestart_ && !file->isStream();
        auto source = std::make_unique<Source>();
        source->file = std::move(file);
        if (std::count(sortWhole.begin(), sortWhole.end(), input.path) > 0)
            source->sort = std::make_unique<FrameSort>(sortMemory / sortWhole.size());
        sources_.push_back(std::move(source));
    }
    sparePort_ = std::max(sparePort_, nextPort);
    for (auto& source : sources_)
        fill(*source);
}

void CaptureMerge::reportPorts(Report& report) const
{
    for (const auto& source : sources_)
        for (const std::string& line : source->file->portLines())
            report.note(source->file->path() + ": " + line);
}

CaptureMerge::~CaptureMerge() = default;

// A frame earlier than one already played is late: in a file that can be
// read again the run starts over with the file sorted whole; in a stream it
// is played after every frame held, so that a clock stepped back gives the
// frames before and after the step as two blocks, and each frame played
// after a later one is counted once, as late.
void CaptureMerge::take(Source& source, const CapturedFrame& frame)
{
    const std::string& path = source.file->path();
    const bool late = frame.micros < lastPlayed_;
    if (late && canRestart_) {
        restartWith_ = path;
        return;
    }
    if (late)
        report_.frame(Problem::Late, path, frame.number, "later than the reorder window allows");
    else
        noteOrder(source, frame);
    size_t slot = source.held.size();
    if (source.spare.empty()) {
        source.held.emplace_back();
    } else {
        slot = source.spare.back();
        source.spare.pop_back();
    }
    Source::Held& held = source.held[slot];
    held.frame = frame;
    held.bytes.assign(frame.bytes, frame.bytes + frame.length);
    held.late = late;
    // After every frame of the same time or earlier; a late frame never
    // goes before one that is not.
    auto at = source.order.end();
    while (at != source.order.begin()) {
        const Source::Held& before = source.held[*(at - 1)];
        if (before.frame.micros <= frame.micros || (late && !before.late))
            break;
        --at;
    }
    source.order.insert(at, slot);
}

// The next frame of the file that the selection keeps; End once the file
// gave its count.
CaptureFile::Read CaptureMerge::readSelected(Source& source, CapturedFrame& frame,
                                             std::string& error)
{
    if (selection_.count != 0 && source.selected == selection_.count)
        return CaptureFile::Read::End;
    for (;;) {
        const CaptureFile::Read read = source.file->next(frame, error);
        if (read != CaptureFile::Read::Frame)
            return read;
        std::string why;
        const ReadFilter::Verdict verdict =
            selection_.filter ? selection_.filter->matches(frame, why) : ReadFilter::Verdict::Match;
        switch (verdict) {
            case ReadFilter::Verdict::Match:
                ++source.selected;
                return read;
            case ReadFilter::Verdict::NoMatch:
                ++filteredOut_;
                continue;
            case ReadFilter::Verdict::Error:
                filterProblem_ = source.file->path() + ": filter: " + why;
                return CaptureFile::Read::End;
        }
    }
}

// A frame earlier than the one read before it, put right by the window or
// the sort.
void CaptureMerge::noteOrder(Source& source, const CapturedFrame& frame)
{
    if (frame.micros < source.lastRead) {
        char earlier[48];
        std::snprintf(earlier, sizeof earlier, "%.6f s earlier than the frame before it",
                      static_cast<double>(source.lastRead - frame.micros) / 1e6);
        report_.frame(Problem::OutOfOrder, source.file->path(), frame.number, earlier);
    }
    source.lastRead = frame.micros;
}

void CaptureMerge::readError(Source& source, unsigned long number, const std::string& error)
{
    report_.file(source.file->path(), "frame " + std::to_string(number) + ": " + error);
}

// The whole file into the sort, then its first frame out. A file that
// cannot be sorted (no room for its runs) gives no frame.
void CaptureMerge::fillSorted(Source& source)
{
    std::string error;
    CapturedFrame frame;
    bool sorted = true;
    while (!source.done) {
        switch (readSelected(source, frame, error)) {
            case CaptureFile::Read::Frame:
                noteOrder(source, frame);
                if (source.sort->add(frame, error))
                    continue;
                sorted = false;
                break;
            case CaptureFile::Read::Error:
                readError(source, frame.number, error);
                error.clear();
                break;
            case CaptureFile::Read::End:
                break;
        }
        source.done = true;
        sorted = sorted && source.sort->finish(error);
        if (!sorted) {
            report_.file(source.file->path(), error);
            source.hasSorted = false;
            return;
        }
    }
    source.hasSorted = source.sort->next(source.sorted, error);
    if (!error.empty())
        report_.file(source.file->path(), error);
}

void CaptureMerge::fill(Source& source)
{
    if (source.sort) {
        fillSorted(source);
        return;
    }
    while (!source.done && source.order.size() < kReorderWindow && restartWith_.empty() &&
           filterProblem_.empty()) {
        CapturedFrame frame;
        std::string error;
        switch (readSelected(source, frame, error)) {
            case CaptureFile::Read::Frame:
                take(source, frame);
                continue;
            case CaptureFile::Read::Error:
                readError(source, frame.number, error);
                break;
            case CaptureFile::Read::End:
                break;
        }
        source.done = true;
    }
}

bool CaptureMerge::next(CapturedFrame& frame, const std::string*& path)
{
    if (handedOut_) {
        if (!handedOut_->sort) {
            handedOut_->spare.push_back(handedOut_->order.front());
            handedOut_->order.pop_front();
        }
        fill(*handedOut_);
        handedOut_ = nullptr;
    }
    if (!restartWith_.empty() || !filterProblem_.empty())
        return false;
    Source* earliest = nullptr;
    for (auto& source : sources_) {
        if (source->empty())
            continue;
        if (!earliest || source->earliest().micros < earliest->earliest().micros)
            earliest = source.get();
    }
    if (!earliest)
        return false;
    frame = earliest->earliest();
    if (!earliest->sort)
        frame.bytes = earliest->held[earliest->order.front()].bytes.data();
    path = &earliest->file->path();
    lastPlayed_ = std::max(lastPlayed_, frame.micros);
    handedOut_ = earliest;
    return true;
}

}  // namespace replay
