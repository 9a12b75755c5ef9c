// The ring buffer of trace records.
#include "traceBuffer.h"

#include <string.h>

#include "hostUtil.h"
#include "recoveryHooks.h"
#include "traceAssert.h"

#include <stddef.h>

// The record layout is part of the trace format on every word size.
static_assert(sizeof(TraceEntry) == 16, "a trace record is 16 bytes");
static_assert(offsetof(TraceEntry, id) == 0 && offsetof(TraceEntry, flags) == 2 &&
                  offsetof(TraceEntry, word1) == 4 && offsetof(TraceEntry, word2) == 8 &&
                  offsetof(TraceEntry, word3) == 12,
              "trace record field offsets");

namespace {
const int kDefaultNameSize = 32;
const unsigned int kBufferHeaderBytes = 24;
}

TraceBuffer::TraceBuffer(int id, char* name, int entryCount)
    : bufferId(id), bufferName(nullptr), numEntries(entryCount), nextIndex(0),
      wrapped(false), entries(nullptr), laps_m(0)
{
    // Every negative count fails the check; clamping it first keeps
    // numEntries - 1 from overflowing for the most negative int.
    if (numEntries < 0)
        numEntries = 0;
    TRACE_ASSERT((numEntries != 0) && !(numEntries & (numEntries - 1)));
    copyName(name);
    // new[] checks count * 16 against the address space, so a ring too big
    // for it fails with bad_alloc instead of wrapping to a small allocation.
    // The failure reaches the caller; the name must not leak on the way.
    try {
        entries = new TraceEntry[static_cast<size_t>(static_cast<unsigned int>(numEntries))];
    } catch (...) {
        delete[] bufferName;
        throw;
    }
}

TraceBuffer::TraceBuffer(int id, char* name, int entryCount, TraceEntry* records)
    : bufferId(id), bufferName(nullptr), numEntries(entryCount), nextIndex(0),
      wrapped(false), entries(nullptr), laps_m(0)
{
    TRACE_ASSERT((numEntries > 0) && !(numEntries & (numEntries - 1)));
    copyName(name);
    entries = records;
}

void TraceBuffer::copyName(char* name)
{
    if (name != nullptr) {
        size_t size = strlen(name) + 1;
        bufferName = new char[size];
        strlcpy(bufferName, name, size);
    } else {
        bufferName = new char[kDefaultNameSize];
        snprintf(bufferName, kDefaultNameSize, "Trace Buffer %d", bufferId);
    }
}

TraceBuffer::~TraceBuffer()
{
    if (!isKeptRing(this))
        delete[] entries;
    delete[] bufferName;
}

void* TraceBuffer::operator new(size_t size)
{
    return ::operator new(size);
}

void TraceBuffer::operator delete(void* object)
{
    if (!releaseKeptRing(object))
        ::operator delete(object);
}

TraceEntry* TraceBuffer::getCurrentEntry()
{
    if (nextIndex > 0)
        return &entries[nextIndex - 1];
    if (wrapped)
        return &entries[numEntries - 1];
    return nullptr;
}

TraceEntry* TraceBuffer::getFirstEntry(int& cursor)
{
    cursor = wrapped ? nextIndex : 0;
    return &entries[cursor];
}

TraceEntry* TraceBuffer::getNextEntry(int& cursor)
{
    if (wrapped) {
        cursor = (cursor + 1) % numEntries;
        if (cursor == nextIndex)
            return nullptr;
        return &entries[cursor];
    }
    if (cursor >= nextIndex - 1)
        return nullptr;
    cursor = cursor + 1;
    return &entries[cursor];
}

void TraceBuffer::restore(const TraceEntry* records, int position, bool hasWrapped)
{
    TRACE_ASSERT(records != nullptr);
    TRACE_ASSERT(position >= 0 && position < numEntries);
    for (int i = 0; i < numEntries; i++)
        entries[i] = records[i];
    nextIndex = position;
    wrapped = hasWrapped;
    laps_m = hasWrapped ? 1 : 0;
}

uint64_t TraceBuffer::recordsHandedOut()
{
    return laps_m * static_cast<uint64_t>(numEntries) + static_cast<uint64_t>(nextIndex);
}

int TraceBuffer::sizeBytes()
{
    // Unsigned arithmetic: a ring of 2^27 records or more wraps the figure
    // instead of overflowing a signed int.
    unsigned int bytes = 16u * static_cast<unsigned int>(numEntries);
    return static_cast<int>(bytes + kBufferHeaderBytes);
}

void TraceBuffer::dump(FILE* stream)
{
    if (stream == nullptr)
        return;
    fprintf(stream,
            "bufferId %d bufferName %s numEntries %d, size bytes %d nextIndex %d, wrapped %s\n",
            bufferId, bufferName, numEntries, sizeBytes(), nextIndex, wrapped ? "true" : "false");
    if (entries == nullptr) {
        fputs("entries null\n", stream);
        return;
    }
    for (int i = 0; i < numEntries; i++) {
        TraceEntry& entry = entries[i];
        fprintf(stream, "%5d: id %5.5d flags 0x%4.4x ", i, entry.id, entry.flags);
        fprintf(stream, "0x%08x ", entry.word1);
        fprintf(stream, "0x%08x ", entry.word2);
        fprintf(stream, "0x%08x ", entry.word3);
        fputc('\n', stream);
    }
}
