// Helpers shared by the steps' format operations. Every format writes into a
// caller-supplied buffer of `size` bytes; these keep the bounded copies and
// appends in one place and treat a size of zero or less as "no room at all".
// Also the one routine that writes a record's whole text, to a stream or to
// the mirrored line, and the one reader of a record's time.
#ifndef TRACELIB_SRC_STEPTEXT_H
#define TRACELIB_SRC_STEPTEXT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "hostUtil.h"
#include "traceBuffer.h"

class TraceStep;

// Every caller formats one record into a buffer of this many bytes, so a
// record's text is at most 99 characters.
const int kStepTextSize = 100;

inline size_t textCapacity(int size)
{
    return size > 0 ? static_cast<size_t>(size) : 0;
}

inline void clearText(char* buf, int size)
{
    if (size > 0)
        buf[0] = '\0';
}

inline void appendText(char* buf, const char* text, int size)
{
    strlcat(buf, text, textCapacity(size));
}

// Where a record's text goes: a stream when stream is non-null, otherwise
// the line of lineSize bytes, cut silently to fit.
struct RecordTextSink {
    FILE* stream;
    char* line;
    int lineSize;
};

// Writes the step's prefix, its text for the record, its postfix, then
// separator: the layout every destination shares.
__attribute__((visibility("hidden"))) void writeRecordText(TraceStep* step, TraceEntry* entry,
                                                           const char* separator,
                                                           RecordTextSink& sink);

static_assert(sizeof(Timeval) == 8 && sizeof(Timeval::tv_sec) == 4 &&
                  sizeof(Timeval::tv_usec) == 4 && offsetof(Timeval, tv_usec) == 4,
              "Timeval is two 32-bit fields");

// The time an identifier record holds: seconds in word1, microseconds in
// word2, as stored (not normalised).
inline Timeval recordTime(TraceEntry* entry)
{
    return Timeval(static_cast<int32_t>(entry->word1), static_cast<int32_t>(entry->word2));
}

#endif
