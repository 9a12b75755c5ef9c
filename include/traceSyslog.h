// Mirroring that never waits for the system-log daemon. Opt-in; a host that
// never calls these functions mirrors through syslog() exactly as before.
//
// By default every mirrored line goes out through syslog(), which sends on a
// blocking socket: a daemon that stops reading (stopped, busy, its queue
// full) stops the host's frame path inside the trace call until the daemon
// reads again. After traceSyslogNonBlocking(api, ...), api's mirrored lines
// (trace lines and the enabled/disabled messages) go out instead through a
// datagram socket of the library's own, connected to the daemon's socket,
// with one send that never waits per line. The daemon receives the bytes
// syslog() would have sent: "<134>", the local time as "Mmm dd hh:mm:ss ",
// the tag syslog() would choose (ident, else the program's short name),
// "[pid]" with LOG_PID, ": " and the line.
//
// A line the socket cannot take at once is dropped and counted. The first
// line that gets through after drops is preceded by one line saying how
// many were dropped: "traceLib to syslog dropped N lines" ("1 line" for
// one), at the same priority. A daemon that went away (killed, restarted
// with a new socket) is reconnected, without waiting, at most once a second
// while lines are being mirrored; the lines in between are dropped and
// counted.
//
// The per-line path allocates nothing, takes no lock of its own and makes one
// send; once a second it rebuilds the time stamp with localtime_r, which
// takes the C library's time-zone lock for the conversion only. Mirroring
// itself is still switched by TraceApi::syslogTrace / syslogEnable, and the
// rings record exactly as before whatever happens to the lines.
//
// The library owns the socket; traceSyslogDefault or the TraceApi's
// destruction closes it. One TraceApi per process can use it. The calls
// here are not thread-safe against other calls on any TraceApi of the
// process.
#ifndef TRACELIB_INCLUDE_TRACESYSLOG_H
#define TRACELIB_INCLUDE_TRACESYSLOG_H

class TraceApi;

// Switches api's mirroring to the socket at socketPath (null: "/dev/log").
// ident and options are what the host gave openlog(), or null and 0 if it
// never called it: LOG_PID adds the pid, LOG_PERROR copies each line to
// standard error as syslog() does (a write that may block), other options
// do not apply. The log mask set with setlogmask() is read now: if it
// excludes LOG_INFO, no line is sent, as syslog() would send none.
//
// Returns 0, or an errno value and leaves mirroring as it was: EINVAL (null
// api), EBUSY (another TraceApi uses the socket), ENAMETOOLONG, EPROTOTYPE
// (a stream socket, not a datagram one), or what socket() or connect()
// reports. A daemon that is not running yet (no socket, or nobody bound to
// it) is not an error: lines are dropped and counted until it is there.
// Calling it again for the same api replaces the path and identity.
int traceSyslogNonBlocking(TraceApi* api, const char* socketPath, const char* ident,
                           int options);

// Back to syslog() for api. Does nothing if api does not use the socket.
void traceSyslogDefault(TraceApi* api);

// Lines api dropped since it switched to the socket; 0 if it does not use it.
unsigned long traceSyslogDropped(TraceApi* api);

#endif
