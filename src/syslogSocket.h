// What the trace API needs from the non-blocking mirroring path
// (syslogSocket.cpp, opted into through traceSyslog.h). Owned there.
#ifndef TRACELIB_SRC_SYSLOGSOCKET_H
#define TRACELIB_SRC_SYSLOGSOCKET_H

#include "recoveryHooks.h"

class TraceApi;

// The TraceApi whose mirrored lines go to the socket, or null: every line of
// every other TraceApi goes through syslog().
extern TRACELIB_INTERNAL TraceApi* syslogSocketApi;

// Sends one line (priority LOG_LOCAL0 | LOG_INFO) without waiting, or drops
// and counts it.
TRACELIB_INTERNAL void sendToSyslogSocket(const char* line);
// ~TraceApi: closes the socket if api used it.
TRACELIB_INTERNAL void forgetSyslogSocket(TraceApi* api);

#endif
