// A complete host written from the contract in host/hostFrame.h and
// host/hostUtil.h alone, without the reference host: frame classes over a
// byte array, a matcher for the presets' rules, the utilities, and the
// adapter of the host check kit (hostCheck.h). docs/integrating.md shows it;
// the tests build it, run the kit on it, and build copies of it with one
// mistake each (tests/host/wrongHosts.cmake) to see the kit catch them.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <new>

#include "hostCheck.h"
#include "hostFrame.h"
#include "hostUtil.h"

namespace {

constexpr size_t kMaxFrameBytes = 2400;
constexpr size_t kMacBytes = 12;
constexpr size_t kTagBytes = 4;
constexpr size_t kFcHeaderBytes = 24;

uint32_t wireWord(const uint8_t* p)  // big-endian on the wire, native here
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

// The frame as it crossed the wire, and its words as native values.
struct fcRawFrameStruct {
    bool fc;
    port_id_t port;
    size_t length;
    uint8_t bytes[kMaxFrameBytes];
    unsigned headerWords;   // Ethernet: MACs and VLAN tags
    unsigned payloadWords;  // whole words only
    uint32_t header[6];     // up to 5
    uint32_t payload[kMaxFrameBytes / 4];
};

namespace {

// Lays out the words the accessors return: header words from the first byte,
// payload words from payloadStart.
fcRawFrameStruct* makeRaw(const uint8_t* bytes, size_t length, port_id_t port, bool fc,
                          size_t headerWords, size_t payloadStart)
{
    if (length > kMaxFrameBytes || payloadStart > length)
        return nullptr;
    fcRawFrameStruct* raw = new (std::nothrow) fcRawFrameStruct{};
    if (!raw)
        return nullptr;
    raw->fc = fc;
    raw->port = port;
    raw->length = length;
    memcpy(raw->bytes, bytes, length);
    raw->headerWords = unsigned(headerWords);
    for (size_t i = 0; i < headerWords; ++i)
        raw->header[i] = wireWord(raw->bytes + 4 * i);
    raw->payloadWords = unsigned((length - payloadStart) / 4);
    for (size_t i = 0; i < raw->payloadWords; ++i)
        raw->payload[i] = wireWord(raw->bytes + payloadStart + 4 * i);
    return raw;
}

bool isVlanTpid(const uint8_t* p)
{
    unsigned type = unsigned(p[0]) << 8 | p[1];
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

}  // namespace

// ---------------------------------------------------------------------------
// The adapter of the host check kit

fcFrame* hostcheckMakeFcFrame(const uint8_t* bytes, size_t length, port_id_t port)
{
    fcRawFrameStruct* raw = makeRaw(bytes, length, port, true, 0, kFcHeaderBytes);
    return raw ? new fcFrame{raw} : nullptr;
}

void hostcheckFreeFcFrame(fcFrame* frame)
{
    delete frame->raw_m;
    delete frame;
}

EthernetFrame* hostcheckMakeEthernetFrame(const uint8_t* bytes, size_t length, port_id_t port)
{
    size_t tags = 0;
    while (tags < 2 && kMacBytes + kTagBytes * tags + 2 <= length &&
           isVlanTpid(bytes + kMacBytes + kTagBytes * tags))
        ++tags;
    size_t macsAndTags = kMacBytes + kTagBytes * tags;
    size_t headerWords = macsAndTags / 4;
    fcRawFrameStruct* raw = makeRaw(bytes, length, port, false, headerWords, macsAndTags + 2);
    return raw ? new EthernetFrame{raw} : nullptr;
}

void hostcheckFreeEthernetFrame(EthernetFrame* frame)
{
    delete frame->raw_m;
    delete frame;
}

// ---------------------------------------------------------------------------
// Frames

uint32_t* EthernetFrame::PeekHeader(unsigned int word)
{
    return word < raw_m->headerWords ? &raw_m->header[word] : nullptr;
}

uint32_t* EthernetFrame::PeekPayload(unsigned int word)
{
    return word < raw_m->payloadWords ? &raw_m->payload[word] : nullptr;
}

void EthernetFrame::Get_D_ID(unsigned char* mac)
{
    memcpy(mac, raw_m->bytes, 6);
}
void EthernetFrame::Get_S_ID(unsigned char* mac)
{
    memcpy(mac, raw_m->bytes + 6, 6);
}
port_id_t EthernetFrame::GetOrigPortID()
{
    return raw_m->port;
}

int fcFrame::GetLengthWords(unsigned int* length)
{
    *length = raw_m->payloadWords;
    return 0;
}

int fcFrame::GetPayload(unsigned int offset, unsigned int count, unsigned int* dest)
{
    if (offset % 4 != 0 || offset / 4 >= raw_m->payloadWords ||
        count > raw_m->payloadWords - offset / 4)
        return -1;
    memcpy(dest, &raw_m->payload[offset / 4], 4 * count);
    return 0;
}

uint32_t fcFrame::Get_R_CTL()
{
    return raw_m->bytes[0];
}
uint32_t fcFrame::Get_D_ID()
{
    return wireWord(raw_m->bytes) & 0xFFFFFF;
}
uint32_t fcFrame::Get_S_ID()
{
    return wireWord(raw_m->bytes + 4) & 0xFFFFFF;
}
uint32_t fcFrame::Get_TYPE()
{
    return raw_m->bytes[8];
}
uint32_t fcFrame::Get_OX_ID()
{
    return wireWord(raw_m->bytes + 16) >> 16;
}
uint32_t fcFrame::Get_RX_ID()
{
    return wireWord(raw_m->bytes + 16) & 0xFFFF;
}
port_id_t fcFrame::GetOrigPortID()
{
    return raw_m->port;
}

// Rule offsets from 25 on address the frame's words from its first byte, a
// partial last word padded with zero bytes; this host keeps no descriptor
// words below 25, so such offsets never match, and neither do rules that
// ask for rejects or delimiters.
static bool wordAt(const fcRawFrameStruct* raw, uint32_t offset, uint32_t* word)
{
    const uint32_t first = 25;
    if (offset < first || offset - first >= (raw->length + 3) / 4)
        return false;
    size_t at = 4 * size_t(offset - first);
    uint8_t bytes[4] = {0, 0, 0, 0};
    memcpy(bytes, raw->bytes + at, raw->length - at < 4 ? raw->length - at : 4);
    *word = wireWord(bytes);
    return true;
}

static bool fieldMatches(const fcRawFrameStruct* raw, const RegisterFieldMatch& field)
{
    uint32_t word = 0;
    return field.mask == 0 ||
           (wordAt(raw, field.offset, &word) && (word & field.mask) == (field.value & field.mask));
}

int FrameUtil::FrameMatchesEntry(fcRawFrameStruct* frame, RegisterFrameEntry* entry)
{
    const RegisterRangeMatch& range = entry->range;
    uint32_t word = 0;
    bool kind = entry->offset_from == 0 || entry->offset_from == (frame->fc ? 1u : 2u);
    bool inRange =
        range.mask == 0 || (wordAt(frame, range.offset, &word) && range.lo <= (word & range.mask) &&
                            (word & range.mask) <= range.hi);
    return kind && fieldMatches(frame, entry->field_1) && fieldMatches(frame, entry->field_2) &&
           fieldMatches(frame, entry->field_3) && inRange && entry->only_rejects == 0 &&
           entry->sof_mask == 0;
}

// ---------------------------------------------------------------------------
// Time, names and strings

Timeval::Timeval() : tv_sec(0), tv_usec(0) {}
Timeval::Timeval(long sec, long usec) : tv_sec(int32_t(sec)), tv_usec(int32_t(usec)) {}

void Timeval::normalize()
{
    tv_sec += tv_usec / 1000000;
    tv_usec %= 1000000;
    if (tv_usec < 0) {
        tv_usec += 1000000;
        --tv_sec;
    }
}

TimevalString::TimevalString(Timeval& tv)
{
    time_t seconds = tv.tv_sec;
    struct tm utc;
    char date[32] = "?";
    if (gmtime_r(&seconds, &utc))
        strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &utc);
    snprintf(text_m, sizeof text_m, "%s.%06ld", date, long(tv.tv_usec));
}

TimevalString::~TimevalString() {}

WorldWideName::WorldWideName(unsigned int first, unsigned int second) : word_m{first, second} {}

WorldWideNameString::WorldWideNameString(WorldWideName name, Style) : text_m(new char[24])
{
    snprintf(text_m, 24, "%08x%08x", name.word_m[0], name.word_m[1]);
}

WorldWideNameString::~WorldWideNameString()
{
    delete[] text_m;
}

// The C library has these from glibc 2.38 on; hostUtil.h declares them
// exactly when it does not.
#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 38)))
extern "C" size_t strlcpy(char* dst, const char* src, size_t size)
{
    size_t length = strlen(src);
    if (size > 0) {
        size_t copy = length < size - 1 ? length : size - 1;
        memcpy(dst, src, copy);
        dst[copy] = '\0';
    }
    return length;
}

extern "C" size_t strlcat(char* dst, const char* src, size_t size)
{
    size_t used = strnlen(dst, size);
    if (used == size)
        return size + strlen(src);
    return used + strlcpy(dst + used, src, size - used);
}
#endif
