// Time, world wide name and bounded string utilities that the host process
// supplies. The library only declares and calls these; the host defines every
// body (hostsim/ is the project's reference host; the host check kit,
// hostcheck/hostCheck.h, checks a host against the statements below). The
// texts of times and names are the host's choice: they appear in saved
// traces and syslog lines as the host formats them.
#ifndef TRACELIB_HOST_HOSTUTIL_H
#define TRACELIB_HOST_HOSTUTIL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// A time of day in seconds and microseconds, both signed. The library reads
// and stores the two fields directly.
class Timeval {
public:
    int32_t tv_sec;                      // exactly these two fields, in this order
    int32_t tv_usec;
    // Overwritten field by field right after; any value will do.
    Timeval();
    // Stores sec and usec unchanged. The library passes the seconds and
    // microseconds it recorded from gettimeofday (or that a manual trace
    // stored), which fit 32 bits.
    Timeval(long sec, long usec);
    // Brings tv_usec into 0..999999, carrying whole seconds into tv_sec
    // (5 s + 1500000 us is 6 s + 500000 us; 5 s - 1 us is 4 s + 999999 us),
    // and leaves a time already in range unchanged. Called after the
    // library stores into the fields; it then orders times by tv_sec, then
    // tv_usec.
    void normalize();
};

// The printable form of a time, built and destroyed within one library
// call.
class TimevalString {
public:
    // The text, zero-terminated, at the object's first byte: the library
    // passes the object's address to strlcat and copies at most 63
    // characters of it into saved files.
    char text_m[80];
    // tv is not changed by the library's use; the text is the host's choice
    // (the reference host prints UTC "YYYY-MM-DD hh:mm:ss.uuuuuu"), as long
    // as different times within a day give different texts and a later
    // time's text sorts after an earlier one's (strcmp), so that saved lines
    // read and sort in time order: pad the microseconds to six digits.
    explicit TimevalString(Timeval& tv);
    ~TimevalString();
};

// A 64-bit world wide name as two 32-bit words, in this order. Device
// events store word_m[0] and word_m[1] in a record and rebuild the name
// from them with the constructor.
class WorldWideName {
public:
    uint32_t word_m[2];
    // word_m[0] = first, word_m[1] = second.
    WorldWideName(unsigned int first, unsigned int second);
};

// The printable form of a name, made only while a device-event record is
// turned into text.
class WorldWideNameString {
public:
    enum Style { STYLE_DEFAULT = 0 };
    // The only data member: a zero-terminated text, valid until the
    // destructor runs. Printed after the device address with "%6.6x/%s"
    // into a 100-byte text, so keep it under 92 characters.
    char* text_m;
    // The library passes a copy of the name and always STYLE_DEFAULT. The
    // text is the host's choice as long as it shows all 16 hex digits of the
    // name, word_m[0] first, most significant digit first (separators and
    // case as the host likes).
    WorldWideNameString(WorldWideName name, Style style);
    ~WorldWideNameString();
};

// Bounded copy and append with the BSD contract: size is the whole
// destination including the terminator; the result is cut to fit and always
// terminated when size > 0; nothing at or past dst[size] is written. The
// library uses no return value. Sizes it passes: a buffer name's length + 1,
// a joined text's length + 1, 64, 255 (syslog lines) and a text buffer's
// size as handed to a step's format, which may be 0: then nothing is written.
// glibc 2.38 and later declare these in <string.h>, as noexcept in C++,
// and supply them; declaring them again without it would clash. With an
// older C library the host must define both (extern "C"); without them the
// program fails to link with an undefined reference to strlcpy or strlcat.
#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 38)))
extern "C" size_t strlcpy(char* dst, const char* src, size_t size);
extern "C" size_t strlcat(char* dst, const char* src, size_t size);
#endif

#endif
