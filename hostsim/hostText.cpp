// Timeval, WorldWideName and their printable forms. Times print as UTC (or
// local time, when asked), "YYYY-MM-DD hh:mm:ss.uuuuuu". Name texts never touch the heap: they are
// written into a small per-thread ring of static buffers (see
// kHostsimWwnRingSlots in hostsim.h for how long a text stays valid).
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "hostsim.h"

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr size_t kWwnTextBytes = 24;   // "xx:" * 8, last colon becomes the NUL
bool timesInLocalZone = false;

char* nextRingSlot()
{
    thread_local char ring[kHostsimWwnRingSlots][kWwnTextBytes];
    thread_local unsigned next = 0;
    char* slot = ring[next];
    next = (next + 1) % kHostsimWwnRingSlots;
    return slot;
}

// Style 0: eight lower-case hex bytes, colon-separated, most significant
// byte of the first word first.
void formatColonHex(const WorldWideName& name, char* text)
{
    static const char kHex[] = "0123456789abcdef";
    char* out = text;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned byte = (name.word_m[i / 4] >> (24 - 8 * (i % 4))) & 0xFF;
        if (i != 0)
            *out++ = ':';
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 0xF];
    }
    *out = '\0';
}

}  // namespace

void hostsimTimesInLocalZone(bool local)
{
    timesInLocalZone = local;
}

Timeval::Timeval() : tv_sec(0), tv_usec(0) {}

Timeval::Timeval(long sec, long usec)
    : tv_sec(static_cast<int32_t>(sec)), tv_usec(static_cast<int32_t>(usec))
{
}

// Carries whole seconds out of tv_usec so that 0 <= tv_usec < 1000000.
// Seconds that leave the int32 range wrap around.
void Timeval::normalize()
{
    int64_t carry = tv_usec / kMicrosPerSecond;
    int64_t usec = tv_usec % kMicrosPerSecond;
    if (usec < 0) {
        usec += kMicrosPerSecond;
        --carry;
    }
    tv_sec = static_cast<int32_t>(static_cast<uint32_t>(tv_sec) + static_cast<uint32_t>(carry));
    tv_usec = static_cast<int32_t>(usec);
}

TimevalString::TimevalString(Timeval& tv)
{
    Timeval t = tv;
    t.normalize();
    time_t seconds = static_cast<time_t>(t.tv_sec);
    struct tm parts;
    if (!(timesInLocalZone ? localtime_r(&seconds, &parts) : gmtime_r(&seconds, &parts))) {
        snprintf(text_m, sizeof text_m, "%ld.%06ld", static_cast<long>(t.tv_sec),
                 static_cast<long>(t.tv_usec));
        return;
    }
    snprintf(text_m, sizeof text_m, "%04d-%02d-%02d %02d:%02d:%02d.%06ld",
             parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
             parts.tm_min, parts.tm_sec, static_cast<long>(t.tv_usec));
}

TimevalString::~TimevalString() {}

WorldWideName::WorldWideName(unsigned int first, unsigned int second)
    : word_m{first, second}
{
}

// Every style formats as style 0 for now; there is no other.
WorldWideNameString::WorldWideNameString(WorldWideName name, Style)
    : text_m(nextRingSlot())
{
    formatColonHex(name, text_m);
}

WorldWideNameString::~WorldWideNameString() {}
