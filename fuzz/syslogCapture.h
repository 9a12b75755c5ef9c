// The system log of a fuzz target. The trace API mirrors traces and reports
// file errors through syslog(); a fuzzer must not flood the machine's log,
// so the target defines syslog() itself (taking the place of the C library's
// for the whole process, the trace library included) and only checks each
// line: at most kSyslogLineLimit characters.
#ifndef TRACELIB_FUZZ_SYSLOGCAPTURE_H
#define TRACELIB_FUZZ_SYSLOGCAPTURE_H

#include <stddef.h>

const size_t kSyslogLineLimit = 254;

// Lines logged since the process started.
unsigned long syslogCaptureLines();

#endif
