// The layout of the files that keep rings beyond the process: ring files
// ("trace-<pid>-<bufferId>.ring") and the step file ("trace-<pid>.steps").
// The library writes them (ringFile.cpp, ringSteps.cpp); tracerecover reads
// them. Every field is in the writer's byte order, given by kByteOrderMark.
// Every file of one process carries the same run id, 64 random bits drawn
// once per process, so files left by another run under a reused pid, or
// renamed from another process, are told apart from this run's.
//
// Ring file: a RingFileHeader, the TraceBuffer object itself (its nextIndex
// and wrapped fields are the ring's position, kept current by recording),
// the records, then the buffer's name. Mapped shared up to the end of the
// records; the header is complete before the file gets its final name.
//
// Step file: a StepFileHeader, stepCount StepRecords each followed by its
// prefix and postfix texts, then the filter list as the saved trace prints
// it after its count line. Written whole under a temporary name, then
// renamed over the previous one.
#ifndef TRACELIB_SRC_RINGFORMAT_H
#define TRACELIB_SRC_RINGFORMAT_H

#include <stdint.h>

const char kRingMagic[8] = {'T', 'R', 'C', 'R', 'I', 'N', 'G', '1'};
const char kStepMagic[8] = {'T', 'R', 'C', 'S', 'T', 'E', 'P', '1'};
const uint32_t kByteOrderMark = 0x01020304;
const uint16_t kRingFormatVersion = 2;
const char kRingSuffix[] = ".ring";
const char kStepSuffix[] = ".steps";
const char kNewFileSuffix[] = ".new";

struct RingFileHeader {
    char magic[8];
    uint32_t byteOrder;         // kByteOrderMark as the writer stores it
    uint16_t version;
    uint8_t wordSize;           // sizeof(void*) of the writer
    uint8_t recordSize;         // sizeof(TraceEntry)
    uint32_t pid;
    int32_t bufferId;
    uint32_t numEntries;
    uint32_t sequence;          // creation order among the process's rings
    uint32_t bufferOffset;      // the TraceBuffer object
    uint32_t nextIndexOffset;   // TraceBuffer::nextIndex (int) within it
    uint32_t wrappedOffset;     // TraceBuffer::wrapped (bool, one byte) within it
    uint32_t recordsOffset;     // the ring; the name follows its last record
    uint32_t nameLength;        // without a terminator
    uint32_t runId[2];          // the writing process's run id, high word first
    uint32_t reserved;          // zero
};
static_assert(sizeof(RingFileHeader) == 64, "ring file header layout");

// What formats a step's records.
enum StepKind : uint8_t {
    kStepHost = 0,   // defined by the host: recovered as raw words
    kStepIdentifier,
    kStepFcHeader,
    kStepFcPayload,
    kStepEls,
    kStepEthDmacSmac,
    kStepEthData,
    kStepDeviceEvent,
    kStepKindCount
};

struct StepFileHeader {
    char magic[8];
    uint32_t byteOrder;
    uint16_t version;
    uint8_t wordSize;
    uint8_t reserved0;          // zero
    uint32_t pid;
    uint32_t identifierId;      // the TraceApi's identifier step
    uint32_t stepCount;
    uint32_t filterCount;
    uint32_t filterTextLength;
    uint32_t stepIdLimit;       // the registry's count: unlisted ids below it were destroyed
    uint32_t runId[2];          // as in the ring files of the same run
};
static_assert(sizeof(StepFileHeader) == 48, "step file header layout");

struct StepRecord {
    uint16_t id;
    uint8_t kind;               // StepKind
    uint8_t validMask;          // bit n: payload selector n is in use
    int32_t index[3];           // payload selector indices
    uint32_t prefixLength;      // texts as the step holds them, blanks included
    uint32_t postfixLength;
};
static_assert(sizeof(StepRecord) == 24, "step record layout");

#endif
