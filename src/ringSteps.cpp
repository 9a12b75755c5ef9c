// The step file beside the ring files: what recovery needs to format their
// records (each registered step's kind, payload selectors and texts) and the
// filter list as the saved trace prints it. Rewritten whole on the rare
// changes of steps, filters or buffers, under a temporary name and then
// renamed, so a crash during the rewrite leaves the previous file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <typeinfo>

#include "ringFormat.h"
#include "ringKeeper.h"
#include "safeFiles.h"
#include "traceApi.h"

namespace {
// Only the library's own classes count; a host's subclass is formatted by
// the host and is recovered as raw words.
StepKind kindOf(TraceStep* step)
{
    const std::type_info& type = typeid(*step);
    if (type == typeid(TraceIdentifier))
        return kStepIdentifier;
    if (type == typeid(TraceFcHeader))
        return kStepFcHeader;
    if (type == typeid(TraceFcPayload))
        return kStepFcPayload;
    if (type == typeid(TraceEls))
        return kStepEls;
    if (type == typeid(TraceEthDmacSmac))
        return kStepEthDmacSmac;
    if (type == typeid(TraceEthData))
        return kStepEthData;
    if (type == typeid(TraceDeviceEvent))
        return kStepDeviceEvent;
    return kStepHost;
}

uint32_t textLength(const char* text)
{
    return text != nullptr ? static_cast<uint32_t>(strlen(text)) : 0;
}

void writeStep(FILE* file, TraceStep* step)
{
    StepRecord record;
    memset(&record, 0, sizeof record);
    record.id = step->stepId_m;
    record.kind = kindOf(step);
    for (int i = 0; i < 3; i++) {
        if (step->payload_m[i].valid)
            record.validMask |= static_cast<uint8_t>(1u << i);
        record.index[i] = step->payload_m[i].index;
    }
    record.prefixLength = textLength(step->prefix_m);
    record.postfixLength = textLength(step->postfix_m);
    fwrite(&record, sizeof record, 1, file);
    fwrite(step->prefix_m != nullptr ? step->prefix_m : "", 1, record.prefixLength, file);
    fwrite(step->postfix_m != nullptr ? step->postfix_m : "", 1, record.postfixLength, file);
}

// The filters' own dump text, gathered in memory.
char* filterText(TraceApi* api, size_t* length)
{
    char* text = nullptr;
    FILE* stream = open_memstream(&text, length);
    if (stream == nullptr)
        return nullptr;
    List<Element<TraceFrameFilter>>* filters = api->frameFilters_m;
    for (Element<TraceFrameFilter>* e = filters->get_first(); e != nullptr; e = e->get_next())
        e->item()->dump(stream);
    if (fclose(stream) != 0) {
        free(text);
        return nullptr;
    }
    return text;
}

bool writeContents(FILE* file, RingKeeper& keeper)
{
    size_t textSize = 0;
    char* text = filterText(keeper.api, &textSize);
    if (text == nullptr)
        return false;
    uint32_t stepCount = 0;
    for (uint32_t id = 1; id < TraceStep::traceStepCount_m; id++)
        if (TraceStep::getStep(static_cast<int>(id)) != nullptr)
            stepCount++;

    StepFileHeader header;
    memset(&header, 0, sizeof header);
    memcpy(header.magic, kStepMagic, sizeof header.magic);
    header.byteOrder = kByteOrderMark;
    header.version = kRingFormatVersion;
    header.wordSize = static_cast<uint8_t>(sizeof(void*));
    header.pid = static_cast<uint32_t>(keeper.pid);
    header.identifierId = keeper.identifierId;
    header.stepCount = stepCount;
    header.filterCount = static_cast<uint32_t>(keeper.api->frameFilters_m->size());
    header.filterTextLength = static_cast<uint32_t>(textSize);
    header.stepIdLimit = TraceStep::traceStepCount_m;
    header.runId[0] = static_cast<uint32_t>(keeper.runId >> 32);
    header.runId[1] = static_cast<uint32_t>(keeper.runId);
    fwrite(&header, sizeof header, 1, file);
    for (uint32_t id = 1; id < TraceStep::traceStepCount_m; id++)
        if (TraceStep* step = TraceStep::getStep(static_cast<int>(id)))
            writeStep(file, step);
    fwrite(text, 1, textSize, file);
    free(text);
    return ferror(file) == 0;
}
}

char* newStepPath(const RingKeeper& keeper)
{
    const char* format = "%s/trace-%d%s";
    int length = snprintf(nullptr, 0, format, keeper.directory, keeper.pid, kStepSuffix);
    char* path = new char[length + 1];
    snprintf(path, length + 1, format, keeper.directory, keeper.pid, kStepSuffix);
    return path;
}

void writeStepFile(RingKeeper& keeper)
{
    char* newPath = nullptr;
    FILE* file = nullptr;
    // Short of memory the previous file stays, like for any other failure;
    // the caller's buffers and filters are already in place.
    try {
        int fd = createFileBeside(keeper.stepPath, &newPath);
        file = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (fd >= 0 && file == nullptr)
            close(fd);
        if (file != nullptr) {
            bool written = writeContents(file, keeper);
            int closed = fclose(file);
            file = nullptr;
            if (closed == 0 && written && rename(newPath, keeper.stepPath) == 0) {
                delete[] newPath;
                newPath = nullptr;
            }
        }
    } catch (const std::bad_alloc&) {
        if (file != nullptr)
            fclose(file);
    }
    if (newPath != nullptr)
        unlink(newPath);
    delete[] newPath;
}

void removeStepFile(RingKeeper& keeper)
{
    unlink(keeper.stepPath);
}
