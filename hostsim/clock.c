/* The controllable clock behind hostsimClock.h. It is written in C, without
 * <sys/time.h>, so that defining gettimeofday does not have to match the C
 * library's declaration (restrict pointers, noexcept in C++,
 * 64-bit time redirection on 32-bit targets). The real time comes from
 * clock_gettime: calling the C library's gettimeofday from here would land
 * back in this definition. */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <time.h>

#include "hostsimClock.h"

/* The ABI of struct timeval behind the symbol gettimeofday: two longs. */
struct hostsimTimeval {
    long tv_sec;
    long tv_usec;
};

int gettimeofday(struct hostsimTimeval* tv, void* tz);

static const int64_t kMicrosPerSecond = 1000000;
static int clockIsSet = 0;
static int64_t setMicros = 0;           /* the set time in microseconds */

void hostsimClockSet(int32_t sec, int32_t usec)
{
    setMicros = (int64_t)sec * kMicrosPerSecond + usec;
    clockIsSet = 1;
}

void hostsimClockAdvance(int64_t usec)
{
    if (clockIsSet)
        setMicros += usec;
}

void hostsimClockUseReal(void)
{
    clockIsSet = 0;
}

int hostsimClockIsSet(void)
{
    return clockIsSet;
}

/* Seconds and microseconds of the current time, microseconds in [0, 1e6). */
static void currentTime(int64_t* sec, int64_t* usec)
{
    if (clockIsSet) {
        int64_t s = setMicros / kMicrosPerSecond;
        int64_t u = setMicros % kMicrosPerSecond;
        if (u < 0) {
            u += kMicrosPerSecond;
            --s;
        }
        *sec = s;
        *usec = u;
        return;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *sec = (int64_t)now.tv_sec;
    *usec = (int64_t)now.tv_nsec / 1000;
}

int gettimeofday(struct hostsimTimeval* tv, void* tz)
{
    (void)tz;
    if (!tv)
        return 0;
    int64_t sec, usec;
    currentTime(&sec, &usec);
    tv->tv_sec = (long)sec;
    tv->tv_usec = (long)usec;
    return 0;
}

#if defined(__i386__)
/* 32-bit code built with 64-bit time calls this name instead. */
struct hostsimTimeval64 {
    int64_t tv_sec;
    int64_t tv_usec;
};

int __gettimeofday64(struct hostsimTimeval64* tv, void* tz);

int __gettimeofday64(struct hostsimTimeval64* tv, void* tz)
{
    (void)tz;
    if (!tv)
        return 0;
    currentTime(&tv->tv_sec, &tv->tv_usec);
    return 0;
}
#endif
