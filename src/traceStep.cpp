// The step base: the registry that hands out step ids, and the behaviour
// every step inherits (zero words, describe, write, prefix and postfix).
#include "traceStep.h"

#include <stdio.h>
#include <string.h>

#include "recoveryHooks.h"
#include "stepText.h"
#include "traceAssert.h"

// ---------------------------------------------------------------------------
// Registry

// Constant-initialised (Array's default constructor is constexpr), so steps
// built by any static initialiser find it ready; its destructor releases the
// storage when the process exits or the library is unloaded.
Array<TraceStep*> TraceStep::traceSteps_m;
uint32_t TraceStep::traceStepCount_m = 1;
uint16_t TraceStep::next_id_m = 1;

namespace {
const uint32_t kMaxStepIds = 1024;   // ids 1 to 1023; id 0 is never handed out
const uint16_t kUnregistered = 0xFFFF;
}

TraceStep::TraceStep() : prefix_m(nullptr), postfix_m(nullptr), stepId_m(kUnregistered)
{
    for (TracePayloadWord& word : payload_m) {
        word.valid = false;
        word.index = -1;
    }
    if (traceStepCount_m > kMaxStepIds - 1)
        return;
    traceSteps_m.grow(traceStepCount_m + 1);
    traceSteps_m[traceStepCount_m] = this;
    stepId_m = static_cast<uint16_t>(traceStepCount_m);
    traceStepCount_m++;
}

TraceStep::~TraceStep()
{
    if (stepId_m != 0 && stepId_m < traceStepCount_m)
        traceSteps_m[stepId_m] = nullptr;
    delete[] prefix_m;
    delete[] postfix_m;
    stepsChanged();
}

namespace {
// Slot `id` of the registry. Until the first step registers, the registry
// has no storage at all while the count already stands at 1; slot 0 (and any
// slot the storage does not reach) reads as null rather than out of range.
TraceStep* registrySlot(Array<TraceStep*>& registry, uint32_t id)
{
    if (id >= registry.size())
        return nullptr;
    return registry[static_cast<int>(id)];
}
}

TraceStep* TraceStep::getStep(int id)
{
    if (id < 0 || static_cast<uint32_t>(id) >= traceStepCount_m)
        return nullptr;
    return registrySlot(traceSteps_m, static_cast<uint32_t>(id));
}

void TraceStep::dump(FILE* stream)
{
    if (stream == nullptr)
        return;
    fprintf(stream, "traceStepCount %d\n", static_cast<int>(traceStepCount_m));
    for (uint32_t i = 0; i < traceStepCount_m; i++) {
        TraceStep* step = registrySlot(traceSteps_m, i);
        if (step != nullptr)
            step->describe(stream);
        else
            fprintf(stream, "%d: step null\n", static_cast<int>(i));
    }
}

// ---------------------------------------------------------------------------
// Base behaviour

void TraceStep::capture(TraceEntry* entry)
{
    TRACE_ASSERT(entry);
    entry->word1 = 0;
    entry->word2 = 0;
    entry->word3 = 0;
}

void TraceStep::capture(TraceEntry* entry, EthernetFrame*, port_id_t*)
{
    TraceStep::capture(entry);
}

void TraceStep::capture(TraceEntry* entry, fcFrame*, port_id_t*)
{
    TraceStep::capture(entry);
}

void TraceStep::capture(TraceEntry* entry, WorldWideName& name, uint32_t value, int)
{
    TRACE_ASSERT(entry);
    entry->word1 = name.word_m[0];
    entry->word2 = name.word_m[1];
    entry->word3 = value;
}

void TraceStep::describe(FILE* stream)
{
    fprintf(stream, "[%s.%d:id %d (%d/%d)(%d/%d)(%d/%d)]\n", __FILE__, __LINE__,
            stepId_m, payload_m[0].valid, payload_m[0].index, payload_m[1].valid,
            payload_m[1].index, payload_m[2].valid, payload_m[2].index);
}

int TraceStep::write(TraceEntry* entry, FILE* stream)
{
    if (stream == nullptr)
        return 0;
    RecordTextSink sink = {stream, nullptr, 0};
    writeRecordText(this, entry, (entry->flags & TRACE_ENTRY_END) ? "\n" : " ", sink);
    return 1;
}

namespace {
void putText(RecordTextSink& sink, const char* text)
{
    if (sink.stream != nullptr)
        fputs(text, sink.stream);
    else
        strlcat(sink.line, text, sink.lineSize);
}
}

void writeRecordText(TraceStep* step, TraceEntry* entry, const char* separator,
                     RecordTextSink& sink)
{
    if (step->prefix_m != nullptr)
        putText(sink, step->prefix_m);
    char text[kStepTextSize];
    memset(text, 0, sizeof text);
    step->format(entry, text, kStepTextSize);
    putText(sink, text);
    if (step->postfix_m != nullptr)
        putText(sink, step->postfix_m);
    putText(sink, separator);
}

namespace {
// A fresh array of strlen(first) + strlen(second) + 1 bytes holding both,
// built with the same bounded copy and append the rest of the library uses.
char* joinTexts(const char* first, const char* second, size_t size)
{
    char* text = new char[size];
    strlcpy(text, first, size);
    strlcat(text, second, size);
    return text;
}
}

void TraceStep::fmtPrefix(char* str)
{
    TRACE_ASSERT(str);
    char* text = joinTexts(str, " ", strlen(str) + 2);
    delete[] prefix_m;
    prefix_m = text;
    stepsChanged();
}

void TraceStep::fmtPostfix(char* str)
{
    TRACE_ASSERT(str);
    char* text = joinTexts(" ", str, strlen(str) + 2);
    delete[] postfix_m;
    postfix_m = text;
    stepsChanged();
}
