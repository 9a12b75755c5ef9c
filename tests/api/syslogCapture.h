// Captures what the library sends to the system log. The test executable
// defines syslog, __syslog_chk (what fortified builds call) and closelog;
// the library's calls bind to these definitions, so every message is kept
// here with its priority instead of reaching the real log. The store is
// fixed-size static memory: capturing never allocates, so the allocation
// tests can mirror traces while they count.
#ifndef TRACELIB_TESTS_SYSLOGCAPTURE_H
#define TRACELIB_TESTS_SYSLOGCAPTURE_H

#include <stddef.h>

#include <string>
#include <vector>

struct SyslogLine {
    int priority;
    std::string text;
};

namespace syslogcap {

constexpr int kTracePriority = 134;    // LOG_LOCAL0 | LOG_INFO
constexpr int kNoticePriority = 5;     // LOG_NOTICE

// Forgets every captured line and the closelog count.
void clear();
// The lines captured since clear(), oldest first (at most the store's size).
std::vector<SyslogLine> lines();
// Number of syslog calls since clear(), including lines the store dropped.
size_t count();
int closelogCalls();
// Called inside each syslog call, before the text is stored; null for none.
void setHook(void (*hook)());

}  // namespace syslogcap

#endif
