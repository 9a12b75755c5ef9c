#include "syslogCapture.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

constexpr size_t kMaxLines = 256;
constexpr size_t kMaxText = 1024;

int priorities[kMaxLines];
char texts[kMaxLines][kMaxText];
size_t lineCount = 0;
int closelogCount = 0;
void (*syslogHook)() = nullptr;

void record(int priority, const char* format, va_list args)
{
    if (syslogHook != nullptr)
        syslogHook();
    size_t slot = lineCount++;
    if (slot >= kMaxLines)
        return;
    priorities[slot] = priority;
    vsnprintf(texts[slot], kMaxText, format, args);
}

}  // namespace

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
    closelogCount++;
}

namespace syslogcap {

void clear()
{
    lineCount = 0;
    closelogCount = 0;
}

std::vector<SyslogLine> lines()
{
    std::vector<SyslogLine> out;
    for (size_t i = 0; i < lineCount && i < kMaxLines; i++)
        out.push_back({priorities[i], texts[i]});
    return out;
}

size_t count()
{
    return lineCount;
}

int closelogCalls()
{
    return closelogCount;
}

void setHook(void (*hook)())
{
    syslogHook = hook;
}

}  // namespace syslogcap
