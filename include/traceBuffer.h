// TraceEntry, the library's one 16-byte record format, and TraceBuffer, a
// fixed ring of such records with an id and a name.
//
// A buffer allocates its whole ring when it is built and never grows, never
// blocks and never fails to hand out a record: once every slot has been used
// the oldest record is overwritten. The buffer owns its name and its ring;
// whoever creates a buffer owns it (the trace API keeps them in a list).
#ifndef TRACELIB_INCLUDE_TRACEBUFFER_H
#define TRACELIB_INCLUDE_TRACEBUFFER_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Bits of TraceEntry::flags. Setters only ever OR them in.
const uint16_t TRACE_ENTRY_BEGIN = 0x0001;           // first record of a trace
const uint16_t TRACE_ENTRY_END = 0x0002;             // last record of a trace
const uint16_t TRACE_ENTRY_PAYLOAD_MISSING = 0x0004; // a payload word was absent
const uint16_t TRACE_ENTRY_PORT = 0x0008;            // word3 is a plain port
const uint16_t TRACE_ENTRY_PORT_PAIR = 0x0010;       // word3 is a port pair
const uint16_t TRACE_ENTRY_RX = 0x0020;              // record of a received frame
const uint16_t TRACE_ENTRY_TX = 0x0040;              // record of a transmitted frame

class TraceEntry {
public:
    TraceEntry() : id(0), flags(0), word1(0), word2(0), word3(0) {}

    uint16_t id;      // id of the step that captured the record; 0 if never filled
    uint16_t flags;   // TRACE_ENTRY_* bits
    uint32_t word1;   // data words, meaning decided by the capturing step
    uint32_t word2;
    uint32_t word3;
};

class TraceBuffer {
public:
    // Allocates the whole ring, every record zero. numEntries must be a
    // non-zero power of two, otherwise the process stops. The name is copied
    // whole; a null name gives "Trace Buffer <id>". A ring too large for
    // memory throws std::bad_alloc.
    TraceBuffer(int id, char* name, int numEntries);
    // Whether a ring of n records can be built: n is a power of two, 1
    // included. initTraceBuffer refuses any other size.
    static bool isRingSize(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }
    ~TraceBuffer();

    TraceBuffer(const TraceBuffer&) = delete;
    TraceBuffer& operator=(const TraceBuffer&) = delete;

    // A buffer kept in a ring file (traceRecovery.h) lives in the file's
    // mapping; deleting it unmaps and removes the file. Other buffers come
    // from and go back to the global operators.
    static void* operator new(size_t size);
    static void operator delete(void* object);

    // The slot at nextIndex, cleared; advances the ring. Never null. Once
    // every slot has been handed out it is the oldest record, overwritten.
    TraceEntry* getFreeEntry();
    // The record handed out last, or null if none has been.
    TraceEntry* getCurrentEntry();
    // Oldest-to-newest walk of the records handed out; the cursor belongs to
    // the caller and the records are read in place. getFirstEntry never
    // returns null: on a buffer that handed out nothing it is slot 0, all
    // zero. getNextEntry returns null past the newest record.
    TraceEntry* getFirstEntry(int& cursor);
    TraceEntry* getNextEntry(int& cursor);

    // A header line, then one line a slot in slot order (not oldest first),
    // unused slots included. A null stream writes nothing.
    void dump(FILE* stream);

    // How many records getFreeEntry has handed out since the buffer was
    // built, overwritten ones included (so more than numEntries once it
    // wrapped): for tools that tell how much a ring lost and what size would
    // have held it all. Counted by the lap, so it costs nothing per record.
    uint64_t recordsHandedOut();

    // Puts back a ring as another buffer of the same size left it (a ring
    // file read by tracerecover): numEntries records copied in slot order,
    // the position and the wrapped flag. records must be non-null and
    // nextIndex a slot of the ring, otherwise the process stops. Counts as
    // records handed out: nextIndex, plus one lap if the ring had wrapped.
    void restore(const TraceEntry* records, int nextIndex, bool wrapped);

    // The size that dumps and saved files report: 16 bytes a record plus 24
    // for the buffer's own bookkeeping; the figure wraps for rings of 2^27
    // records or more.
    int sizeBytes();

    int bufferId;
    char* bufferName;
    int numEntries;
    int nextIndex;
    bool wrapped;
    TraceEntry* entries;

    // Times nextIndex went from the last slot back to 0: recordsHandedOut
    // without a count per record. Public only so that the object keeps a
    // standard layout (the ring files give the offsets of its members).
    uint64_t laps_m;

private:
    // A buffer kept in a ring file, built inside the file's mapping: its
    // records are the file's (zero when it is made) and not the buffer's to
    // free. Only the ring file code builds one.
    TraceBuffer(int id, char* name, int numEntries, TraceEntry* records);
    void copyName(char* name);
    friend class NewRingFile;
};

// Inline: every traced record goes through here. The ring size is a power
// of two, so advancing with a mask is the modulo without a division.
//
// The empty asm makes the new position depend on the cleared slot, so the
// compiler stores the whole clear (flags included, which it would
// otherwise fold into the caller's first flag store) before nextIndex: a
// ring kept in a file and read after the process was killed between the
// two shows a handed-out slot as cleared, never with the flags of the
// record it replaced. It emits no instruction and reloads nothing; a kill
// stops the thread between two instructions, so no fence is needed.
inline TraceEntry* TraceBuffer::getFreeEntry()
{
    TraceEntry* entry = &entries[nextIndex];
    *entry = TraceEntry();
    if (nextIndex >= numEntries - 1) {
        wrapped = true;
        ++laps_m;
    }
    int next = (nextIndex + 1) & (numEntries - 1);
    __asm__ __volatile__("" : "+r"(next) : "m"(*entry));
    nextIndex = next;
    return entry;
}

#endif
