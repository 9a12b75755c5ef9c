#include "syslogCapture.h"

#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

#include "fuzzCheck.h"

namespace {
unsigned long lines = 0;
}

unsigned long syslogCaptureLines()
{
    return lines;
}

extern "C" void syslog(int, const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    FUZZ_CHECK(length >= 0);
    FUZZ_CHECK(static_cast<size_t>(length) <= kSyslogLineLimit);
    lines++;
}

extern "C" void openlog(const char*, int, int) {}
extern "C" void closelog(void) {}
