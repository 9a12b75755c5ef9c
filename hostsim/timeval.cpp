// Timeval and its printable form. Times print as UTC,
// "YYYY-MM-DD hh:mm:ss.uuuuuu".
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "hostUtil.h"

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;

}  // namespace

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
    if (!gmtime_r(&seconds, &parts)) {
        snprintf(text_m, sizeof text_m, "%ld.%06ld", static_cast<long>(t.tv_sec),
                 static_cast<long>(t.tv_usec));
        return;
    }
    snprintf(text_m, sizeof text_m, "%04d-%02d-%02d %02d:%02d:%02d.%06ld",
             parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
             parts.tm_min, parts.tm_sec, static_cast<long>(t.tv_usec));
}

TimevalString::~TimevalString() {}
