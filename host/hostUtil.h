// Time, world wide name and bounded string utilities that the host process
// supplies. The library only declares and calls these; the host defines every
// body (see hostsim/ for the project's reference host).
#ifndef TRACELIB_HOST_HOSTUTIL_H
#define TRACELIB_HOST_HOSTUTIL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

class Timeval {
public:
    int32_t tv_sec;                      // exactly these two fields, in this order
    int32_t tv_usec;
    Timeval();
    Timeval(long sec, long usec);
    void normalize();
};

class TimevalString {
public:
    char text_m[80];                     // zero-terminated text at the object's first byte
    explicit TimevalString(Timeval& tv);
    ~TimevalString();
};

class WorldWideName {
public:
    uint32_t word_m[2];                  // the 64-bit name as two words, in this order
    WorldWideName(unsigned int first, unsigned int second);
};

class WorldWideNameString {
public:
    enum Style { STYLE_DEFAULT = 0 };
    char* text_m;                        // the only data member
    WorldWideNameString(WorldWideName name, Style style);
    ~WorldWideNameString();
};

// glibc 2.38 and later declare these in <string.h>, as noexcept in C++;
// declaring them again without it would clash.
#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 38)))
extern "C" size_t strlcpy(char* dst, const char* src, size_t size);
extern "C" size_t strlcat(char* dst, const char* src, size_t size);
#endif

#endif
