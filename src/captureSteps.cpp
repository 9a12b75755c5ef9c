// The capture steps a host puts in its filters or traces with: the Fibre
// Channel header and payload steps with the ELS step, the Ethernet address
// and data steps, the device-event step, and the identifier step that opens
// every trace (its captures are inline in traceStep.h).
#include "traceStep.h"


#include <stdio.h>
#include <string.h>

#include "recoveryHooks.h"
#include "stepText.h"
#include "traceAssert.h"

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
// Extended Link Services

namespace {
struct ElsCommand {
    uint8_t code;
    const char* name;
};

const ElsCommand kElsCommands[] = {
    {0x01, "LS_RJT"},   {0x02, "LS_ACC"},     {0x03, "PLOGI"},    {0x04, "FLOGI"},
    {0x05, "LOGO"},     {0x06, "ABTX"},       {0x07, "RCS"},      {0x08, "RES"},
    {0x09, "RSS"},      {0x0A, "RSI"},        {0x0B, "ESTS"},     {0x0C, "ESTC"},
    {0x0D, "ADVC"},     {0x0E, "RTV"},        {0x0F, "RLS"},      {0x10, "ECHO_ELS"},
    {0x11, "TEST_ELS"}, {0x12, "RRQ"},        {0x13, "REC"},      {0x20, "PRLI"},
    {0x21, "PRLO"},     {0x24, "TPRLO"},      {0x30, "GAID"},     {0x31, "FACT"},
    {0x32, "FDACT"},    {0x50, "PDISC"},      {0x51, "FDISC"},    {0x52, "ADISC"},
    {0x54, "FARP_REQ"}, {0x55, "FARP_REPLY"}, {0x56, "RPS"},      {0x57, "RPL"},
    {0x58, "RPBC"},     {0x60, "FAN"},        {0x61, "RSCN"},     {0x62, "SCR"},
    {0x70, "LINIT"},    {0x71, "LPC"},        {0x72, "LSTS"},     {0x78, "RNID"},
    {0x79, "RLIR"},     {0x7A, "LIRR"},       {0x7B, "SCL"},      {0x7F, "EVFP"},
    {0x90, "AUTH_ELS"}, {0xFF, "RTIN"},
};

const char* elsCommandName(uint32_t code)
{
    for (const ElsCommand& command : kElsCommands)
        if (command.code == code)
            return command.name;
    return "CMD";
}
}

void TraceEls::format(TraceEntry* entry, char* text, int size)
{
    snprintf(text, textCapacity(size), "ELS %s (%8.8x %8.8x %8.8x)",
             elsCommandName(entry->word1 >> 24), entry->word1, entry->word2, entry->word3);
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

// A host builds these steps itself, often after its buffers: describe the
// step for recovery now that its class is known.
TraceDeviceEvent::TraceDeviceEvent()
{
    stepsChanged();
}

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

// ---------------------------------------------------------------------------
// Identifier

namespace {
const int kPortTextSize = 64;
}

TraceIdentifier::TraceIdentifier() {}

void TraceIdentifier::format(TraceEntry* entry, char* buf, int size)
{
    Timeval time = recordTime(entry);
    TimevalString timeText(time);
    appendText(buf, timeText.text_m, size);

    char portText[kPortTextSize];
    if (entry->flags & TRACE_ENTRY_PORT)
        snprintf(portText, sizeof portText, " port %d", static_cast<int32_t>(entry->word3));
    else if (entry->flags & TRACE_ENTRY_PORT_PAIR)
        snprintf(portText, sizeof portText, " port %d.%d",
                 static_cast<int>(entry->word3 >> 16), static_cast<int>(entry->word3 & 0xFFFF));
    else
        return;
    appendText(buf, portText, size);
}
