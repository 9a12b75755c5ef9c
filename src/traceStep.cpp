// The step base with its registry, and the Fibre Channel, Ethernet and
// device-event steps.
#include "traceStep.h"

#include <stdio.h>
#include <string.h>

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
    if (prefix_m != nullptr)
        fputs(prefix_m, stream);
    char text[kStepTextSize];
    text[0] = '\0';
    format(entry, text, kStepTextSize);
    fputs(text, stream);
    if (postfix_m != nullptr)
        fputs(postfix_m, stream);
    fputc((entry->flags & TRACE_ENTRY_END) ? '\n' : ' ', stream);
    return 1;
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
}

void TraceStep::fmtPostfix(char* str)
{
    TRACE_ASSERT(str);
    char* text = joinTexts(" ", str, strlen(str) + 2);
    delete[] postfix_m;
    postfix_m = text;
}

// ---------------------------------------------------------------------------
// Fibre Channel header

TraceFcHeader::TraceFcHeader() {}

void TraceFcHeader::capture(TraceEntry* entry, fcFrame* frame, port_id_t*)
{
    TRACE_ASSERT(frame);
    TRACE_ASSERT(entry);
    uint32_t rCtl = frame->Get_R_CTL();
    uint32_t dId = frame->Get_D_ID();
    uint32_t sId = frame->Get_S_ID();
    uint32_t type = frame->Get_TYPE();
    uint32_t oxId = frame->Get_OX_ID();
    uint32_t rxId = frame->Get_RX_ID();
    entry->word1 = (rCtl << 24) | dId;
    entry->word2 = (type << 24) | sId;
    entry->word3 = (oxId << 16) | (rxId & 0xFFFF);
}

void TraceFcHeader::format(TraceEntry* entry, char* buf, int size)
{
    snprintf(buf, textCapacity(size),
             "%s r_ctl %2.2x d_id %6.6x s_id %6.6x type %2.2x ox_id %4.4x rx_id %4.4x",
             (entry->flags & TRACE_ENTRY_RX) ? "rx" : "tx", entry->word1 >> 24,
             entry->word1 & 0xFFFFFF, entry->word2 & 0xFFFFFF, entry->word2 >> 24,
             entry->word3 >> 16, entry->word3 & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Fibre Channel payload

TraceFcPayload::TraceFcPayload(int first, int second, int third)
{
    const int indexes[3] = {first, second, third};
    for (int k = 0; k < 3; k++) {
        if (indexes[k] >= 0) {
            payload_m[k].valid = true;
            payload_m[k].index = indexes[k];
        }
    }
}

void TraceFcPayload::capture(TraceEntry* entry, fcFrame* frame, port_id_t*)
{
    TRACE_ASSERT(frame);
    TRACE_ASSERT(entry);
    unsigned int length = 0;
    if (frame->GetLengthWords(&length) != 0) {
        entry->flags |= TRACE_ENTRY_PAYLOAD_MISSING;
        return;
    }
    uint32_t* words[3] = {&entry->word1, &entry->word2, &entry->word3};
    bool missing = false;
    for (int k = 0; k < 3; k++) {
        if (!payload_m[k].valid)
            continue;
        uint32_t index = static_cast<uint32_t>(payload_m[k].index);
        if (index + 1 <= length) {
            if (frame->GetPayload(4 * index, 1, words[k]) != 0)
                missing = true;
        } else {
            missing = true;
        }
    }
    if (missing)
        entry->flags |= TRACE_ENTRY_PAYLOAD_MISSING;
}

void TraceFcPayload::format(TraceEntry* entry, char* buf, int size)
{
    static const char* const kPieceFormats[3] = {
        "pld %d %8.8x", " pld %d %8.8x", " pld %d %8.8x"};
    const uint32_t words[3] = {entry->word1, entry->word2, entry->word3};
    clearText(buf, size);
    for (int k = 0; k < 3; k++) {
        if (!payload_m[k].valid)
            continue;
        char piece[20];
        snprintf(piece, sizeof piece, kPieceFormats[k], payload_m[k].index, words[k]);
        appendText(buf, piece, size);
    }
}

// ---------------------------------------------------------------------------
// Ethernet addresses

namespace {
const int kMacBytes = 6;
const int kDmacOffset = 4;    // record bytes 4-9
const int kSmacOffset = 10;   // record bytes 10-15

unsigned char* recordBytes(TraceEntry* entry)
{
    return reinterpret_cast<unsigned char*>(entry);
}

// "xx:xx:xx:xx:xx:xx" into an 18-byte buffer.
void formatMac(const unsigned char* mac, char* text)
{
    static const char kHexDigits[] = "0123456789abcdef";
    char* out = text;
    for (int i = 0; i < kMacBytes; i++) {
        if (i > 0)
            *out++ = ':';
        *out++ = kHexDigits[mac[i] >> 4];
        *out++ = kHexDigits[mac[i] & 0xF];
    }
    *out = '\0';
}
}

TraceEthDmacSmac::TraceEthDmacSmac() {}

void TraceEthDmacSmac::capture(TraceEntry* entry, EthernetFrame* frame, port_id_t*)
{
    TRACE_ASSERT(frame);
    TRACE_ASSERT(entry);
    frame->Get_D_ID(recordBytes(entry) + kDmacOffset);
    frame->Get_S_ID(recordBytes(entry) + kSmacOffset);
}

void TraceEthDmacSmac::format(TraceEntry* entry, char* buf, int size)
{
    char dmac[18];
    char smac[18];
    formatMac(recordBytes(entry) + kDmacOffset, dmac);
    formatMac(recordBytes(entry) + kSmacOffset, smac);
    snprintf(buf, textCapacity(size), "%s dmac %s smac %s",
             (entry->flags & TRACE_ENTRY_RX) ? "rx" : "tx", dmac, smac);
}

// ---------------------------------------------------------------------------
// Ethernet data words

namespace {
// The payload scan stops here: a jumbo frame's 9216-byte payload holds 2304
// words, so no real frame has a payload word beyond this index.
const unsigned int kMaxEthPayloadWords = 2304;
const unsigned int kFirstVlanHeaderWord = 3;
const unsigned int kSecondVlanHeaderWord = 4;
}

TraceEthData::TraceEthData() {}

void TraceEthData::capture(TraceEntry* entry, EthernetFrame* frame, port_id_t*)
{
    TRACE_ASSERT(frame);
    TRACE_ASSERT(entry);
    uint32_t* words[3] = {&entry->word1, &entry->word2, &entry->word3};
    int filled = 0;
    if (uint32_t* p = frame->PeekHeader(kFirstVlanHeaderWord))
        *words[filled++] = *p;
    if (uint32_t* p = frame->PeekHeader(kSecondVlanHeaderWord))
        *words[filled++] = *p;
    for (unsigned int i = 0; filled < 3 && i < kMaxEthPayloadWords; i++) {
        if (uint32_t* p = frame->PeekPayload(i))
            *words[filled++] = *p;
    }
}

void TraceEthData::format(TraceEntry* entry, char* buf, int size)
{
    const uint32_t words[3] = {entry->word1, entry->word2, entry->word3};
    clearText(buf, size);
    for (uint32_t word : words) {
        char piece[20];
        snprintf(piece, sizeof piece, "%8.8x ", word);
        appendText(buf, piece, size);
    }
}

// ---------------------------------------------------------------------------
// Device events

TraceDeviceEvent::TraceDeviceEvent() {}

TraceDeviceEvent::~TraceDeviceEvent() {}

void TraceDeviceEvent::capture(TraceEntry* entry, uint32_t address, WorldWideName& name)
{
    TRACE_ASSERT(entry);
    entry->word1 = name.word_m[0];
    entry->word2 = name.word_m[1];
    entry->word3 = address;
}

void TraceDeviceEvent::format(TraceEntry* entry, char* text, int size)
{
    WorldWideName name(entry->word1, entry->word2);
    WorldWideNameString nameText(name, WorldWideNameString::STYLE_DEFAULT);
    snprintf(text, textCapacity(size), "%6.6x/%s", entry->word3, nameText.text_m);
}
