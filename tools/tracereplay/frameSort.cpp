#include "frameSort.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace replay {

namespace {

constexpr size_t kRunBuffer = 1 << 16;

// What a frame carries besides its bytes, as stored in a run.
struct FrameHeader {
    int64_t micros;
    uint64_t number;
    uint32_t length;
    uint32_t wireLength;
    uint32_t snapLength;
    int32_t linkType;
    port_id_t port;
};

FrameHeader headerOf(const CapturedFrame& frame)
{
    return {frame.micros,
            frame.number,
            static_cast<uint32_t>(frame.length),
            static_cast<uint32_t>(frame.wireLength),
            frame.snapLength,
            frame.linkType,
            frame.port};
}

void frameOf(const FrameHeader& header, const uint8_t* bytes, CapturedFrame& frame)
{
    frame.bytes = bytes;
    frame.length = header.length;
    frame.wireLength = header.wireLength;
    frame.micros = header.micros;
    frame.port = header.port;
    frame.linkType = header.linkType;
    frame.snapLength = header.snapLength;
    frame.number = static_cast<unsigned long>(header.number);
}

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// A temporary file in $TMPDIR, already unlinked.
std::FILE* anonymousFile(std::string& error)
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/tracereplay-sort-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        error = errnoText(("cannot sort beyond memory: " + path).c_str());
        return nullptr;
    }
    unlink(path.c_str());
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) {
        error = errnoText("cannot sort beyond memory");
        close(fd);
    }
    return file;
}

}  // namespace

// A sorted run in a temporary file, read back one frame at a time.
struct FrameSort::Run {
    std::FILE* file = nullptr;
    std::vector<char> buffer = std::vector<char>(kRunBuffer);
    FrameHeader header{};
    std::vector<uint8_t> bytes;

    ~Run()
    {
        if (file)
            std::fclose(file);
    }
};

bool FrameSort::Head::operator>(const Head& other) const
{
    return micros != other.micros ? micros > other.micros : number > other.number;
}

FrameSort::FrameSort(size_t memoryBytes) : memoryBytes_(memoryBytes) {}

FrameSort::~FrameSort() = default;

bool FrameSort::add(const CapturedFrame& frame, std::string& error)
{
    const size_t need = sizeof(FrameHeader) + frame.length + sizeof(Index);
    const size_t used = held_.size() + index_.size() * sizeof(Index);
    if (!index_.empty() && used + need > memoryBytes_ && !spill(error))
        return false;
    if (held_.capacity() == 0) {
        // Room for a whole run at once, so that neither vector is ever copied
        // to a larger one; pages not yet written take no memory.
        held_.reserve(memoryBytes_);
        index_.reserve(memoryBytes_ / (sizeof(FrameHeader) + sizeof(Index)));
    }
    const FrameHeader header = headerOf(frame);
    const size_t at = held_.size();
    held_.resize(at + need);
    std::memcpy(held_.data() + at, &header, sizeof header);
    std::memcpy(held_.data() + at + sizeof header, frame.bytes, frame.length);
    index_.push_back({frame.micros, frame.number, at});
    return true;
}

void FrameSort::sortHeld()
{
    std::sort(index_.begin(), index_.end(), [](const Index& a, const Index& b) {
        return a.micros != b.micros ? a.micros < b.micros : a.number < b.number;
    });
}

bool FrameSort::spill(std::string& error)
{
    sortHeld();
    auto run = std::make_unique<Run>();
    run->file = anonymousFile(error);
    if (!run->file)
        return false;
    std::setvbuf(run->file, run->buffer.data(), _IOFBF, run->buffer.size());
    bool ok = true;
    for (const Index& entry : index_) {
        FrameHeader header;
        std::memcpy(&header, held_.data() + entry.offset, sizeof header);
        const size_t size = sizeof header + header.length;
        ok = ok && std::fwrite(held_.data() + entry.offset, 1, size, run->file) == size;
    }
    if (!ok || std::fflush(run->file) != 0) {
        error = errnoText("cannot sort beyond memory: temporary file");
        return false;
    }
    runs_.push_back(std::move(run));
    held_.clear();
    index_.clear();
    return true;
}

bool FrameSort::finish(std::string& error)
{
    if (runs_.empty()) {
        sortHeld();
        return true;
    }
    if (!index_.empty() && !spill(error))
        return false;
    held_ = std::vector<uint8_t>();
    index_ = std::vector<Index>();
    for (size_t run = 0; run < runs_.size(); ++run) {
        if (std::fseek(runs_[run]->file, 0, SEEK_SET) != 0) {
            error = errnoText("cannot read back a sorted run");
            return false;
        }
        if (!advance(run, error))
            return false;
    }
    return true;
}

// Reads the run's next frame and queues it; at the run's end, nothing.
bool FrameSort::advance(size_t index, std::string& error)
{
    Run& run = *runs_[index];
    const size_t got = std::fread(&run.header, 1, sizeof run.header, run.file);
    if (got == 0 && !std::ferror(run.file))
        return true;
    run.bytes.resize(run.header.length);
    if (got != sizeof run.header ||
        std::fread(run.bytes.data(), 1, run.bytes.size(), run.file) != run.bytes.size()) {
        error = errnoText("cannot read back a sorted run");
        return false;
    }
    heads_.push({run.header.micros, static_cast<unsigned long>(run.header.number), index});
    return true;
}

bool FrameSort::next(CapturedFrame& frame, std::string& error)
{
    if (runs_.empty()) {
        if (nextHeld_ == index_.size())
            return false;
        const uint8_t* at = held_.data() + index_[nextHeld_++].offset;
        FrameHeader header;
        std::memcpy(&header, at, sizeof header);
        frameOf(header, at + sizeof header, frame);
        return true;
    }
    // The run handed out last is read on only now: its frame was in use.
    if (pending_ != kNone && !advance(pending_, error))
        return false;
    pending_ = kNone;
    if (heads_.empty())
        return false;
    const size_t index = heads_.top().run;
    heads_.pop();
    frameOf(runs_[index]->header, runs_[index]->bytes.data(), frame);
    pending_ = index;
    return true;
}

}  // namespace replay
