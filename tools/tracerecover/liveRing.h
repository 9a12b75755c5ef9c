// A ring file mapped for reading while its process may still be writing it.
//
// The writer adds nothing to its per-frame path for the reader: no lock, no
// atomic, no fence. The reader does the work. It reads the ring's position,
// copies records, reads the position again, and keeps only records the
// writer cannot have touched in between. A record's first word (step id and
// flags) is read before its data words: the writer stores the id after the
// words and the end mark last, so a record read with an id is whole, and a
// slot handed out but not yet filled reads as id 0.
//
// Positions here are absolute: the count of records the writer has handed
// out, which the file does not hold (it keeps the slot index only). A reader
// that looks often enough (at least once a lap) counts them exactly; a lap
// it did not see is noticed by the record it last read being replaced.
//
// The object owns its mapping; the process's files stay the process's.
#ifndef TRACELIB_TOOLS_TRACERECOVER_LIVERING_H
#define TRACELIB_TOOLS_TRACERECOVER_LIVERING_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ringFiles.h"

// Whether this CPU makes one thread's stores visible to others in the order
// they were made. Where it does not, a record is only read once it was
// handed out before the previous look at the ring.
#if defined(__x86_64__) || defined(__i386__)
constexpr bool kStoresInProgramOrder = true;
#else
constexpr bool kStoresInProgramOrder = false;
#endif

class LiveRing {
public:
    // The ring file at `path`, checked like a file recovery reads; the image
    // holds its identity and records as mapped (its records are not kept).
    static std::unique_ptr<LiveRing> open(const std::string& path, std::string& error);
    ~LiveRing();
    LiveRing(const LiveRing&) = delete;
    LiveRing& operator=(const LiveRing&) = delete;

    const RingImage& info() const { return info_; }
    uint32_t entries() const { return entries_; }
    uint64_t device() const { return device_; }
    uint64_t inode() const { return inode_; }

    // The slot the writer hands out next, and whether it has lapped once.
    uint32_t position() const;
    bool wrapped() const;
    // The record in `slot`: first word, then data words.
    TraceEntry record(uint32_t slot) const;
    // A record in the slot the writer reuses next, read twice around a check
    // that the writer did not move: nothing if it may be changing, or has
    // lost its step id to the clear.
    std::optional<TraceEntry> stableRecord(uint32_t slot, uint32_t position) const;

    // The ring's position and wrapped flag at one instant, and a record the
    // writer reaches again only after going (almost) round the ring.
    struct Instant {
        uint32_t position = 0;
        bool wrapped = false;
        TraceEntry guard;
    };
    Instant instant() const;
    // The whole ring as recovery reads a dead process's, as it was at
    // `then`: the records handed out after it left out, slots the writer
    // reused since cleared; nothing if the writer may have gone round the
    // whole ring meanwhile.
    std::optional<RingImage> snapshot(const Instant& then) const;

private:
    LiveRing() = default;
    uint32_t word(size_t offset) const;
    uint32_t guardSlot(uint32_t position) const;

    RingImage info_;
    const unsigned char* base_ = nullptr;
    size_t size_ = 0;
    uint32_t entries_ = 0;
    size_t positionAt_ = 0;
    size_t wrappedAt_ = 0;
    size_t recordsAt_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
};

// The ring files of several paths (directories stand for their "*.ring"
// entries) as recovery reads them, every live ring at one instant: every
// position is read before any ring is copied. A file that cannot be read
// adds "<file>: <reason>" to `errors`.
std::vector<RingImage> readRingsAtOneInstant(const std::vector<std::string>& files,
                                             std::vector<std::string>& errors);

#endif
