#include "apiSupport.h"

#include <stdarg.h>

SyslogCapture syslogCap;

static void record(int priority, const char* format, va_list args)
{
    size_t slot = syslogCap.count++;
    if (slot >= kSyslogLines)
        return;
    syslogCap.priority[slot] = priority;
    vsnprintf(syslogCap.text[slot], sizeof syslogCap.text[slot], format, args);
}

extern "C" void syslog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

extern "C" void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

extern "C" void closelog()
{
    syslogCap.closelogs++;
}
