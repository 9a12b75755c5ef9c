#include "liveRing.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "ringFormat.h"

namespace {

const int kCopyAttempts = 100;

// Header fields in the writer's byte order; the header was checked whole by
// parseRingFile before these are read.
uint32_t headerWord(const unsigned char* base, size_t offset, bool swap)
{
    uint32_t value;
    memcpy(&value, base + offset, sizeof value);
    return swap ? __builtin_bswap32(value) : value;
}

uint16_t halfOf(uint32_t word, int half, bool swap)
{
    uint16_t value;
    memcpy(&value, reinterpret_cast<const char*>(&word) + 2 * half, sizeof value);
    return swap ? __builtin_bswap16(value) : value;
}

bool sameRecord(const TraceEntry& a, const TraceEntry& b)
{
    return a.id == b.id && a.flags == b.flags && a.word1 == b.word1 && a.word2 == b.word2 &&
           a.word3 == b.word3;
}

// Where stores may become visible out of order, records handed out just
// before a look may not be whole yet: a pause after reading the positions.
void letStoresSettle()
{
    if (kStoresInProgramOrder)
        return;
    const struct timespec pause = {0, 2 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace

std::unique_ptr<LiveRing> LiveRing::open(const std::string& path, std::string& error)
{
    std::optional<RingImage> checked = readRingFile(path, error);
    if (!checked)
        return nullptr;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = std::string("cannot open: ") + strerror(errno);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    std::unique_ptr<LiveRing> ring(new LiveRing());
    ring->size_ = size_t(info.st_size);
    void* base = mmap(nullptr, ring->size_, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (base == MAP_FAILED) {
        error = std::string("cannot map: ") + strerror(errno);
        return nullptr;
    }
    ring->base_ = static_cast<const unsigned char*>(base);
    // The mapping is checked again: the file may have been replaced since.
    std::optional<RingImage> mapped = parseRingFile(
        std::string_view(reinterpret_cast<const char*>(ring->base_), ring->size_), error);
    if (!mapped)
        return nullptr;
    const bool swap = mapped->otherByteOrder;
    const unsigned char* at = ring->base_;
    const size_t buffer = headerWord(at, offsetof(RingFileHeader, bufferOffset), swap);
    ring->entries_ = uint32_t(mapped->records.size());
    ring->positionAt_ = buffer + headerWord(at, offsetof(RingFileHeader, nextIndexOffset), swap);
    ring->wrappedAt_ = buffer + headerWord(at, offsetof(RingFileHeader, wrappedOffset), swap);
    ring->recordsAt_ = headerWord(at, offsetof(RingFileHeader, recordsOffset), swap);
    ring->device_ = uint64_t(info.st_dev);
    ring->inode_ = uint64_t(info.st_ino);
    ring->info_ = std::move(*mapped);
    ring->info_.records.clear();
    ring->info_.records.shrink_to_fit();
    ring->info_.path = path;
    ring->info_.modified = checked->modified;
    return ring;
}

LiveRing::~LiveRing()
{
    if (base_ != nullptr)
        munmap(const_cast<unsigned char*>(base_), size_);
}

uint32_t LiveRing::word(size_t offset) const
{
    const uint32_t value =
        __atomic_load_n(reinterpret_cast<const uint32_t*>(base_ + offset), __ATOMIC_ACQUIRE);
    return info_.otherByteOrder ? __builtin_bswap32(value) : value;
}

uint32_t LiveRing::position() const
{
    const uint32_t index = word(positionAt_);
    // A damaged position is read as the start rather than out of the ring.
    return index < entries_ ? index : 0;
}

bool LiveRing::wrapped() const
{
    return __atomic_load_n(base_ + wrappedAt_, __ATOMIC_ACQUIRE) != 0;
}

TraceEntry LiveRing::record(uint32_t slot) const
{
    const size_t at = recordsAt_ + size_t(slot) * sizeof(TraceEntry);
    const uint32_t first =
        __atomic_load_n(reinterpret_cast<const uint32_t*>(base_ + at), __ATOMIC_ACQUIRE);
    const bool swap = info_.otherByteOrder;
    TraceEntry entry;
    entry.id = halfOf(first, 0, swap);
    entry.flags = halfOf(first, 1, swap);
    entry.word1 = word(at + offsetof(TraceEntry, word1));
    entry.word2 = word(at + offsetof(TraceEntry, word2));
    entry.word3 = word(at + offsetof(TraceEntry, word3));
    return entry;
}

std::optional<TraceEntry> LiveRing::stableRecord(uint32_t slot, uint32_t at) const
{
    const TraceEntry first = record(slot);
    const TraceEntry second = record(slot);
    // A slot being handed out again is cleared id first (TraceEntry's
    // first half, then its second): a writer stopped in the middle leaves a
    // record without its id, which is no record.
    if (position() != at || !sameRecord(first, second) || first.id == 0)
        return std::nullopt;
    return first;
}

uint32_t LiveRing::guardSlot(uint32_t position) const
{
    return (position + 2 * entries_ - 2) % entries_;
}

LiveRing::Instant LiveRing::instant() const
{
    Instant then;
    // The position before the wrapped flag: the writer sets the flag first.
    then.position = position();
    then.wrapped = wrapped();
    then.guard = record(guardSlot(then.position));
    return then;
}

std::optional<RingImage> LiveRing::snapshot(const Instant& then) const
{
    RingImage image = info_;
    image.records.resize(entries_);
    for (uint32_t slot = 0; slot < entries_; slot++)
        image.records[slot] = record(slot);
    // The position says how far the writer moved, unless it went round: the
    // guard, read after it, is then replaced.
    const uint32_t now = position();
    const uint32_t moved = (now - then.position + entries_) % entries_;
    if (moved + 2 >= entries_ && entries_ > 2)
        return std::nullopt;
    if (entries_ > 2 && !sameRecord(record(guardSlot(then.position)), then.guard))
        return std::nullopt;
    // Slots from the instant's position up to the one the writer hands out
    // now were reused, or are being reused, since the instant; the oldest
    // record is kept if the writer has not moved and it reads the same twice.
    for (uint32_t k = 0; k <= moved; k++)
        image.records[(then.position + k) % entries_] = TraceEntry();
    if (moved == 0)
        image.records[then.position] = stableRecord(then.position, now).value_or(TraceEntry());
    image.nextIndex = int(then.position);
    image.wrapped = then.wrapped;
    return image;
}

std::vector<RingImage> readRingsAtOneInstant(const std::vector<std::string>& files,
                                             std::vector<std::string>& errors)
{
    std::vector<std::unique_ptr<LiveRing>> rings;
    for (const std::string& file : files) {
        std::string error = "out of memory";
        try {
            if (std::unique_ptr<LiveRing> ring = LiveRing::open(file, error)) {
                rings.push_back(std::move(ring));
                continue;
            }
        } catch (const std::bad_alloc&) {
        }
        errors.push_back(file + ": " + error);
    }
    std::vector<LiveRing::Instant> instants;
    for (const auto& ring : rings)
        instants.push_back(ring->instant());
    letStoresSettle();
    std::vector<RingImage> images;
    for (size_t i = 0; i < rings.size(); i++) {
        // A writer that went round its whole ring during the copy is copied
        // again, at an instant of its own.
        const std::string& path = rings[i]->info().path;
        try {
            std::optional<RingImage> image = rings[i]->snapshot(instants[i]);
            for (int again = 0; !image && again < kCopyAttempts; again++)
                image = rings[i]->snapshot(rings[i]->instant());
            if (image)
                images.push_back(std::move(*image));
            else
                errors.push_back(path + ": written too fast to copy");
        } catch (const std::bad_alloc&) {
            errors.push_back(path + ": out of memory");
        }
    }
    return images;
}
