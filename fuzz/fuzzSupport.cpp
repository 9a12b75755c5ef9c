// For the targets that trace: a scratch file for saved traces, and a syslog()
// taking the C library's place process-wide, so mirrored traces never reach
// the machine's log; it checks each line fits the 254 characters allowed.
#include <stdarg.h>
#include <unistd.h>

#include <initializer_list>

#include "fuzzCheck.h"

char* fuzzScratchPath()
{
    static char path[64];  // memory-backed where the machine has it: rewritten per input
    if (path[0] != '\0')
        return path;
    int fd = -1;
    for (const char* dir : {"/dev/shm", "/tmp"}) {
        snprintf(path, sizeof path, "%s/tracelib-fuzz-XXXXXX", dir);
        if ((fd = mkstemp(path)) >= 0)
            break;
    }
    FUZZ_CHECK(fd >= 0);
    close(fd);
    atexit([] { unlink(path); });
    return path;
}

extern "C" void syslog(int, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    FUZZ_CHECK(length >= 0 && length <= 254);
}
