#include "ringFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "ringFormat.h"

namespace {

const uint64_t kMaxEntries = 1u << 30;  // what initTraceBuffer's int can hold
const uint64_t kMaxStepFileBytes = 64u << 20;
const char kNotOurs[] = "not a file of kept trace rings";

// Both headers begin alike, so one check reads either.
static_assert(offsetof(RingFileHeader, byteOrder) == offsetof(StepFileHeader, byteOrder) &&
                  offsetof(RingFileHeader, version) == offsetof(StepFileHeader, version) &&
                  offsetof(RingFileHeader, wordSize) == offsetof(StepFileHeader, wordSize),
              "ring and step file headers share their first fields");

template <class T>
T byteSwapped(T value)
{
    if constexpr (sizeof(T) == 2)
        return T(__builtin_bswap16(uint16_t(value)));
    else if constexpr (sizeof(T) == 4)
        return T(__builtin_bswap32(uint32_t(value)));
    else
        return value;
}

// Fixed-width fields of a file, in its writer's byte order. Callers check
// that what they read lies within the bytes.
class Fields {
public:
    Fields(std::string_view bytes, bool swap) : bytes_(bytes), swap_(swap) {}

    template <class T>
    T at(uint64_t offset) const
    {
        T value;
        memcpy(&value, bytes_.data() + offset, sizeof value);
        return swap_ ? byteSwapped(value) : value;
    }
    uint64_t runIdAt(uint64_t offset) const
    {
        return uint64_t(at<uint32_t>(offset)) << 32 | at<uint32_t>(offset + 4);
    }
    bool swapped() const { return swap_; }

private:
    std::string_view bytes_;
    bool swap_;
};

// Magic, byte order, version and word size: the fields both files share.
std::optional<Fields> identify(std::string_view bytes, size_t headerSize, const char* magic,
                               std::string& error)
{
    if (bytes.size() < sizeof kRingMagic || memcmp(bytes.data(), magic, sizeof kRingMagic) != 0) {
        error = kNotOurs;
        return std::nullopt;
    }
    if (bytes.size() < headerSize) {
        error = "truncated";
        return std::nullopt;
    }
    Fields native(bytes, false);
    const uint32_t mark = native.at<uint32_t>(offsetof(RingFileHeader, byteOrder));
    if (mark != kByteOrderMark && mark != byteSwapped(kByteOrderMark)) {
        error = "damaged header";
        return std::nullopt;
    }
    Fields fields(bytes, mark != kByteOrderMark);
    const uint16_t version = fields.at<uint16_t>(offsetof(RingFileHeader, version));
    if (version != kRingFormatVersion) {
        error = "format version " + std::to_string(version) + " not supported";
        return std::nullopt;
    }
    const uint8_t wordSize = fields.at<uint8_t>(offsetof(RingFileHeader, wordSize));
    if (wordSize != 4 && wordSize != 8) {
        error = "damaged header";
        return std::nullopt;
    }
    return fields;
}

// The size a ring file must have, from its header (the first bytes).
std::optional<uint64_t> ringFileSize(std::string_view header, std::string& error)
{
    std::optional<Fields> f = identify(header, sizeof(RingFileHeader), kRingMagic, error);
    if (!f)
        return std::nullopt;
    const uint64_t n = f->at<uint32_t>(offsetof(RingFileHeader, numEntries));
    const uint64_t bufferOffset = f->at<uint32_t>(offsetof(RingFileHeader, bufferOffset));
    const uint64_t recordsOffset = f->at<uint32_t>(offsetof(RingFileHeader, recordsOffset));
    // 64-bit sums: offsets near 2^32 must not wrap to small ones.
    const uint64_t nextIndexAt = f->at<uint32_t>(offsetof(RingFileHeader, nextIndexOffset));
    const uint64_t wrappedAt = f->at<uint32_t>(offsetof(RingFileHeader, wrappedOffset));
    const uint64_t bufferEnd = bufferOffset + std::max(nextIndexAt + 4, wrappedAt + 1);
    const bool usable =
        f->at<uint8_t>(offsetof(RingFileHeader, recordSize)) == sizeof(TraceEntry) && n != 0 &&
        n <= kMaxEntries && (n & (n - 1)) == 0 && bufferOffset >= sizeof(RingFileHeader) &&
        bufferEnd <= recordsOffset;
    if (!usable) {
        error = "damaged header";
        return std::nullopt;
    }
    return recordsOffset + n * sizeof(TraceEntry) +
           f->at<uint32_t>(offsetof(RingFileHeader, nameLength));
}

std::string sizeError(uint64_t actual, uint64_t expected)
{
    return actual < expected ? "truncated" : "longer than its header states";
}

TraceEntry recordAt(const Fields& f, uint64_t at)
{
    TraceEntry entry;
    entry.id = f.at<uint16_t>(at + offsetof(TraceEntry, id));
    entry.flags = f.at<uint16_t>(at + offsetof(TraceEntry, flags));
    entry.word1 = f.at<uint32_t>(at + offsetof(TraceEntry, word1));
    entry.word2 = f.at<uint32_t>(at + offsetof(TraceEntry, word2));
    entry.word3 = f.at<uint32_t>(at + offsetof(TraceEntry, word3));
    return entry;
}

// An open descriptor of a regular file, closed on scope exit.
class RegularFile {
public:
    RegularFile(const std::string& path, std::string& error)
    {
        // Non-blocking, so that opening a FIFO does not wait for a writer.
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd_ < 0) {
            error = std::string("cannot open: ") + strerror(errno);
        } else if (fstat(fd_, &info_) != 0) {
            error = std::string("cannot read: ") + strerror(errno);
        } else if (!S_ISREG(info_.st_mode)) {
            error = S_ISDIR(info_.st_mode) ? "a directory, not a file of kept trace rings"
                                           : "not a regular file";
        } else {
            return;
        }
        close();
    }
    ~RegularFile() { close(); }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    uint64_t size() const { return uint64_t(info_.st_size); }
    int64_t modified() const { return int64_t(info_.st_mtim.tv_sec); }

    // Up to `length` bytes from the start; fewer only if the file is shorter.
    std::optional<std::string> read(uint64_t length, std::string& error) const
    {
        std::string bytes(length, '\0');
        uint64_t done = 0;
        while (done < length) {
            ssize_t n = pread(fd_, bytes.data() + done, length - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = std::string("cannot read: ") + strerror(errno);
                return std::nullopt;
            }
            if (n == 0)
                break;
            done += uint64_t(n);
        }
        bytes.resize(done);
        return bytes;
    }

private:
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    struct stat info_ = {};
};

}  // namespace

std::optional<RingImage> parseRingFile(std::string_view bytes, std::string& error)
{
    std::optional<uint64_t> size = ringFileSize(bytes, error);
    if (!size)
        return std::nullopt;
    if (bytes.size() != *size) {
        error = sizeError(bytes.size(), *size);
        return std::nullopt;
    }
    Fields f(bytes, identify(bytes, sizeof(RingFileHeader), kRingMagic, error)->swapped());
    const uint64_t n = f.at<uint32_t>(offsetof(RingFileHeader, numEntries));
    const uint64_t records = f.at<uint32_t>(offsetof(RingFileHeader, recordsOffset));
    const uint64_t buffer = f.at<uint32_t>(offsetof(RingFileHeader, bufferOffset));
    RingImage ring;
    ring.pid = f.at<uint32_t>(offsetof(RingFileHeader, pid));
    ring.runId = f.runIdAt(offsetof(RingFileHeader, runId));
    ring.bufferId = f.at<int32_t>(offsetof(RingFileHeader, bufferId));
    ring.sequence = f.at<uint32_t>(offsetof(RingFileHeader, sequence));
    ring.name = std::string(bytes.substr(records + n * sizeof(TraceEntry)));
    ring.nextIndex =
        f.at<int32_t>(buffer + f.at<uint32_t>(offsetof(RingFileHeader, nextIndexOffset)));
    ring.wrapped =
        f.at<uint8_t>(buffer + f.at<uint32_t>(offsetof(RingFileHeader, wrappedOffset))) != 0;
    ring.otherByteOrder = f.swapped();
    if (ring.nextIndex < 0 || uint64_t(ring.nextIndex) >= n) {
        error = "damaged ring position";
        return std::nullopt;
    }
    ring.records.reserve(n);
    for (uint64_t i = 0; i < n; i++)
        ring.records.push_back(recordAt(f, records + i * sizeof(TraceEntry)));
    return ring;
}

std::optional<StepTable> parseStepFile(std::string_view bytes, std::string& error)
{
    std::optional<Fields> f = identify(bytes, sizeof(StepFileHeader), kStepMagic, error);
    if (!f)
        return std::nullopt;
    StepTable table;
    table.pid = f->at<uint32_t>(offsetof(StepFileHeader, pid));
    table.runId = f->runIdAt(offsetof(StepFileHeader, runId));
    table.identifierId = f->at<uint32_t>(offsetof(StepFileHeader, identifierId));
    table.stepIdLimit = f->at<uint32_t>(offsetof(StepFileHeader, stepIdLimit));
    table.filterCount = f->at<uint32_t>(offsetof(StepFileHeader, filterCount));
    const uint32_t stepCount = f->at<uint32_t>(offsetof(StepFileHeader, stepCount));
    uint64_t at = sizeof(StepFileHeader);
    auto take = [&](uint64_t length, std::string& out) {
        if (length > bytes.size() - at)
            return false;
        out = std::string(bytes.substr(at, length));
        at += length;
        return true;
    };
    for (uint32_t i = 0; i < stepCount && sizeof(StepRecord) <= bytes.size() - at; i++) {
        const uint64_t record = at;
        at += sizeof(StepRecord);
        StepInfo step;
        step.id = f->at<uint16_t>(record + offsetof(StepRecord, id));
        step.kind = f->at<uint8_t>(record + offsetof(StepRecord, kind));
        if (step.kind >= kStepKindCount)
            step.kind = kStepHost;
        const uint8_t validMask = f->at<uint8_t>(record + offsetof(StepRecord, validMask));
        for (int w = 0; w < 3; w++) {
            step.valid[w] = (validMask >> w) & 1u;
            step.index[w] = f->at<int32_t>(record + offsetof(StepRecord, index) + 4 * w);
        }
        if (!take(f->at<uint32_t>(record + offsetof(StepRecord, prefixLength)), step.prefix) ||
            !take(f->at<uint32_t>(record + offsetof(StepRecord, postfixLength)), step.postfix))
            break;
        table.steps.push_back(std::move(step));
    }
    const bool complete =
        table.steps.size() == stepCount &&
        take(f->at<uint32_t>(offsetof(StepFileHeader, filterTextLength)), table.filterText);
    if (!complete || at != bytes.size()) {
        error = complete ? "longer than its header states" : "truncated";
        return std::nullopt;
    }
    return table;
}

std::optional<RingImage> readRingFile(const std::string& path, std::string& error)
{
    RegularFile file(path, error);
    if (!file.ok())
        return std::nullopt;
    std::optional<std::string> header = file.read(sizeof(RingFileHeader), error);
    if (!header)
        return std::nullopt;
    std::optional<uint64_t> size = ringFileSize(*header, error);
    if (!size)
        return std::nullopt;
    if (file.size() != *size) {
        error = sizeError(file.size(), *size);
        return std::nullopt;
    }
    std::optional<std::string> bytes = file.read(*size, error);
    if (!bytes)
        return std::nullopt;
    std::optional<RingImage> ring = parseRingFile(*bytes, error);
    if (ring) {
        ring->path = path;
        ring->modified = file.modified();
    }
    return ring;
}

std::optional<StepTable> readStepFile(const std::string& path, std::string& error)
{
    RegularFile file(path, error);
    if (!file.ok())
        return std::nullopt;
    if (file.size() > kMaxStepFileBytes) {
        error = "too large for a step file";
        return std::nullopt;
    }
    std::optional<std::string> bytes = file.read(file.size(), error);
    return bytes ? parseStepFile(*bytes, error) : std::nullopt;
}

std::string stepFileFor(const std::string& ringPath, uint32_t pid)
{
    size_t slash = ringPath.rfind('/');
    std::string directory = slash == std::string::npos ? "." : ringPath.substr(0, slash);
    return directory + "/trace-" + std::to_string(pid) + kStepSuffix;
}
