#include "ringFiles.h"

#include <string.h>

#include <fstream>
#include <iterator>

#include "ringFormat.h"

namespace {

std::optional<std::string> slurp(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot open: ") + strerror(errno);
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The checks every file of the format shares, on its header's first fields.
bool checkIdentity(const char* magic, const char* expected, uint32_t byteOrder, uint16_t version,
                   std::string& error)
{
    if (memcmp(magic, expected, sizeof kRingMagic) != 0) {
        error = "not a file of kept trace rings";
        return false;
    }
    if (byteOrder == __builtin_bswap32(kByteOrderMark)) {
        error = "written with the other byte order";
        return false;
    }
    if (byteOrder != kByteOrderMark) {
        error = "damaged header";
        return false;
    }
    if (version != kRingFormatVersion) {
        error = "format version " + std::to_string(version) + " not supported";
        return false;
    }
    return true;
}

template <class T>
T readAt(const std::string& bytes, uint64_t offset)
{
    T value;
    memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::optional<RingImage> readRingFile(const std::string& path, std::string& error)
{
    std::optional<std::string> bytes = slurp(path, error);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() < sizeof(RingFileHeader)) {
        error = bytes->size() < sizeof kRingMagic ||
                        memcmp(bytes->data(), kRingMagic, sizeof kRingMagic) != 0
                    ? "not a file of kept trace rings"
                    : "truncated";
        return std::nullopt;
    }
    auto header = readAt<RingFileHeader>(*bytes, 0);
    if (!checkIdentity(header.magic, kRingMagic, header.byteOrder, header.version, error))
        return std::nullopt;
    const uint64_t n = header.numEntries;
    const uint64_t recordsEnd = uint64_t(header.recordsOffset) + n * sizeof(TraceEntry);
    const uint64_t bufferEnd =
        header.bufferOffset + std::max(uint64_t(header.nextIndexOffset) + sizeof(int32_t),
                                       uint64_t(header.wrappedOffset) + 1);
    const uint64_t kMaxEntries = 1u << 30;   // what initTraceBuffer's int can hold
    const bool sizeUsable = n != 0 && n <= kMaxEntries && (n & (n - 1)) == 0;
    const bool layoutUsable = header.recordSize == sizeof(TraceEntry) && sizeUsable &&
                              bufferEnd <= header.recordsOffset;
    if (!layoutUsable) {
        error = "damaged header";
        return std::nullopt;
    }
    if (recordsEnd + header.nameLength != bytes->size()) {
        error = "truncated";
        return std::nullopt;
    }
    RingImage ring;
    ring.path = path;
    ring.pid = header.pid;
    ring.bufferId = header.bufferId;
    ring.sequence = header.sequence;
    ring.name = bytes->substr(recordsEnd, header.nameLength);
    ring.nextIndex = readAt<int32_t>(*bytes, header.bufferOffset + header.nextIndexOffset);
    ring.wrapped = readAt<uint8_t>(*bytes, header.bufferOffset + header.wrappedOffset) != 0;
    if (ring.nextIndex < 0 || uint64_t(ring.nextIndex) >= n) {
        error = "damaged ring position";
        return std::nullopt;
    }
    ring.records.resize(n);
    memcpy(ring.records.data(), bytes->data() + header.recordsOffset, n * sizeof(TraceEntry));
    return ring;
}

std::optional<StepTable> readStepFile(const std::string& path, std::string& error)
{
    std::optional<std::string> bytes = slurp(path, error);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() < sizeof(StepFileHeader)) {
        error = "truncated";
        return std::nullopt;
    }
    auto header = readAt<StepFileHeader>(*bytes, 0);
    if (!checkIdentity(header.magic, kStepMagic, header.byteOrder, header.version, error))
        return std::nullopt;
    StepTable table;
    table.identifierId = header.identifierId;
    table.filterCount = header.filterCount;
    uint64_t at = sizeof header;
    auto take = [&](uint64_t length, std::string& out) {
        if (at + length > bytes->size())
            return false;
        out = bytes->substr(at, length);
        at += length;
        return true;
    };
    std::string raw;
    for (uint32_t i = 0; i < header.stepCount; i++) {
        StepInfo step;
        if (!take(sizeof(StepRecord), raw))
            break;
        auto record = readAt<StepRecord>(raw, 0);
        step.id = record.id;
        step.kind = record.kind < kStepKindCount ? record.kind : uint8_t(kStepHost);
        for (int w = 0; w < 3; w++) {
            step.valid[w] = (record.validMask >> w) & 1u;
            step.index[w] = record.index[w];
        }
        if (!take(record.prefixLength, step.prefix) || !take(record.postfixLength, step.postfix))
            break;
        table.steps.push_back(step);
    }
    const bool complete = table.steps.size() == header.stepCount &&
                          take(header.filterTextLength, table.filterText);
    if (!complete || at != bytes->size()) {
        error = "truncated";
        return std::nullopt;
    }
    return table;
}

std::string stepFileFor(const std::string& ringPath, uint32_t pid)
{
    size_t slash = ringPath.rfind('/');
    std::string directory = slash == std::string::npos ? "." : ringPath.substr(0, slash);
    return directory + "/trace-" + std::to_string(pid) + kStepSuffix;
}
