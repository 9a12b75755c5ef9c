// The trace API's output: the saved trace file (filters, one summary line a
// buffer, then every buffer's traces merged by time) and the debug dump.
#include "traceApi.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "outputWriters.h"
#include "stepText.h"
#include "traceRecovery.h"
#include "traceAssert.h"

namespace {
const int kFileErrorPriority = LOG_NOTICE;   // 5: saveTrace/debugDump file errors
const int kTimeTextSize = 64;                //  at most 63 characters of a time text
const int kStackMergeCursors = 64;           // see writeMergedTraces

// One buffer's read position while its traces are merged with the others'.
struct MergeCursor {
    TraceBuffer* buffer;   // null once exhausted, or with no opening record
    TraceEntry* entry;     // the record to write next
    int index;             // walk index for getFirstEntry/getNextEntry
    Timeval time;          // time of the trace that opens at `entry`
};

// Traces are ordered by their opening record's time brought into range.
Timeval openingTime(TraceEntry* entry)
{
    Timeval time = recordTime(entry);
    time.normalize();
    return time;
}

bool isEarlier(Timeval& a, Timeval& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

// Puts the cursor on the buffer's oldest opening record, or retires it.
void positionCursor(MergeCursor& cursor, TraceBuffer* buffer)
{
    TraceEntry* entry = buffer->getFirstEntry(cursor.index);
    while (entry != nullptr && !(entry->flags & TRACE_ENTRY_BEGIN))
        entry = buffer->getNextEntry(cursor.index);
    if (entry == nullptr)
        return;
    cursor.entry = entry;
    cursor.time = openingTime(entry);
    cursor.buffer = buffer;
}

// The cursor whose next trace began first; ties go to the earlier buffer.
MergeCursor* earliestCursor(MergeCursor* cursors, int count)
{
    MergeCursor* earliest = nullptr;
    for (int i = 0; i < count; i++) {
        MergeCursor& cursor = cursors[i];
        if (cursor.buffer == nullptr)
            continue;
        if (earliest == nullptr || isEarlier(cursor.time, earliest->time))
            earliest = &cursor;
    }
    return earliest;
}

// Writes the cursor's trace, from its opening record up to the next opening
// record, and leaves the cursor on that record (or retires it).
void writeTrace(FILE* file, MergeCursor& cursor)
{
    fprintf(file, "%d: ", cursor.buffer->bufferId);
    TraceEntry* entry = cursor.entry;
    do {
        TraceStep* step = TraceStep::getStep(entry->id);
        if (step == nullptr) {
            fprintf(file, "NULL trace step id %d\n", entry->id);
        } else {
            // Records of one trace stand two blanks apart in the saved file.
            RecordTextSink sink = {file, nullptr, 0};
            writeRecordText(step, entry, (entry->flags & TRACE_ENTRY_END) ? "\n" : "  ", sink);
        }
        entry = cursor.buffer->getNextEntry(cursor.index);
    } while (entry != nullptr && !(entry->flags & TRACE_ENTRY_BEGIN));

    if (entry == nullptr) {
        cursor.buffer = nullptr;
        cursor.entry = nullptr;
        return;
    }
    cursor.entry = entry;
    cursor.time = openingTime(entry);
}

void copyTimeText(char* text, TraceEntry* record)
{
    if (record == nullptr) {
        strlcpy(text, "never", kTimeTextSize);
        return;
    }
    Timeval time = recordTime(record);
    TimevalString timeText(time);
    strlcpy(text, timeText.text_m, kTimeTextSize);
}

void writeBufferSummary(FILE* file, TraceBuffer* buffer, uint16_t identifierId)
{
    TraceEntry* start = nullptr;
    TraceEntry* end = nullptr;
    int opened = 0;
    int index = 0;
    TraceEntry* entry = buffer->getFirstEntry(index);
    // Records before the first opening record are the rest of an overwritten
    // trace and play no part.
    while (entry != nullptr && !(entry->flags & TRACE_ENTRY_BEGIN))
        entry = buffer->getNextEntry(index);
    for (; entry != nullptr; entry = buffer->getNextEntry(index)) {
        if (entry->flags & TRACE_ENTRY_BEGIN)
            opened++;
        if (entry->id == identifierId) {
            end = entry;
            if (start == nullptr)
                start = entry;
        }
    }

    char timeText[kTimeTextSize];
    fprintf(file, "%s ID: %d Bytes: %d Wrapped: %s, ", buffer->bufferName, buffer->bufferId,
            buffer->sizeBytes(), buffer->wrapped ? "true" : "false");
    copyTimeText(timeText, start);
    fprintf(file, "Starts %s ", timeText);
    copyTimeText(timeText, end);
    fprintf(file, "Ends %s Number Events %d\n", timeText, opened);
    fflush(file);
}

// A k-way merge by the time of each trace's opening record. The cursors live
// on the stack for up to kStackMergeCursors buffers; a host with more buffers
// than that gets them from the heap for the duration of the call, so no
// number of buffers can overflow the caller's stack.
void writeMergedTraces(FILE* file, List<Element<TraceBuffer>>& buffers)
{
    const int count = buffers.size();
    MergeCursor stackCursors[kStackMergeCursors];
    MergeCursor* heapCursors = count > kStackMergeCursors ? new MergeCursor[count] : nullptr;
    MergeCursor* cursors = heapCursors != nullptr ? heapCursors : stackCursors;

    Element<TraceBuffer>* element = buffers.get_first();
    for (int i = 0; i < count; i++) {
        TRACE_ASSERT(element);
        cursors[i].buffer = nullptr;
        cursors[i].entry = nullptr;
        cursors[i].index = 0;
        positionCursor(cursors[i], element->item());
        element = element->get_next();
    }
    while (MergeCursor* cursor = earliestCursor(cursors, count))
        writeTrace(file, *cursor);
    delete[] heapCursors;
}

// Both files open the same way: a null path writes nothing, and a file that
// cannot be created is reported to the system log.
FILE* openOutput(char* path)
{
    if (path == nullptr)
        return nullptr;
    FILE* file = fopen(path, "w");
    if (file == nullptr)
        syslog(kFileErrorPriority, "Can't open %s errno %d", path, errno);
    return file;
}

// The filter count under the name each file gives them, then every filter,
// newest first.
void writeFilterCount(FILE* file, const char* heading, unsigned int count)
{
    fprintf(file, "%u %s defined:\n", count, heading);
}

void writeFilters(FILE* file, const char* heading, List<Element<TraceFrameFilter>>& filters)
{
    writeFilterCount(file, heading, filters.size());
    for (Element<TraceFrameFilter>* e = filters.get_first(); e != nullptr; e = e->get_next())
        e->item()->dump(file);
}

void closeOutput(FILE* file, char* path)
{
    if (fclose(file) != 0)
        syslog(kFileErrorPriority, "problem closing %s errno %d", path, errno);
}

// The saved trace after its filter section.
void writeBufferSections(TraceApi* api, FILE* file)
{
    List<Element<TraceBuffer>>& buffers = api->traceBuffers_m;
    for (Element<TraceBuffer>* e = buffers.get_first(); e != nullptr; e = e->get_next())
        writeBufferSummary(file, e->item(), api->identifier_m->stepId_m);
    if (buffers.size() != 0)
        writeMergedTraces(file, buffers);
}
}

void writeSavedTrace(TraceApi* api, FILE* file)
{
    writeFilters(file, "TraceFrameFilters", *api->frameFilters_m);
    writeBufferSections(api, file);
}

int traceWriteSavedTrace(TraceApi* api, FILE* file, unsigned int filterCount,
                         const char* filterText, size_t filterTextLength)
{
    if (api == nullptr || file == nullptr || (filterText == nullptr && filterTextLength != 0))
        return EINVAL;
    writeFilterCount(file, "TraceFrameFilters", filterCount);
    if (filterTextLength != 0)
        fwrite(filterText, 1, filterTextLength, file);
    writeBufferSections(api, file);
    return fflush(file) != 0 || ferror(file) ? EIO : 0;
}

void writeDebugDump(TraceApi* api, FILE* file)
{
    TraceStep::dump(file);
    writeFilters(file, "FrameFilters", *api->frameFilters_m);
    List<Element<TraceBuffer>>& buffers = api->traceBuffers_m;
    for (Element<TraceBuffer>* e = buffers.get_first(); e != nullptr; e = e->get_next()) {
        fprintf(file, "Trace Buffer %d\n", e->item()->bufferId);
        e->item()->dump(file);
    }
}

void TraceApi::saveTrace(char* path)
{
    FILE* file = openOutput(path);
    if (file == nullptr)
        return;
    writeSavedTrace(this, file);
    closeOutput(file, path);
}

void TraceApi::debugDump(char* path)
{
    FILE* file = openOutput(path);
    if (file == nullptr)
        return;
    writeDebugDump(this, file);
    closeOutput(file, path);
}
