// Mirroring through a socket of the library's own (traceSyslog.h): each
// line is framed as syslog() frames it for the daemon and sent with one send
// that never waits; what the socket cannot take is dropped and counted.
//
// syslog() itself cannot be made safe from outside: it sends on a blocking
// socket and, after a failed send, reopens a blocking one. This path owns
// its socket instead, opened non-blocking and connected once; a send that
// fails because the daemon went away closes it, and the next lines try to
// connect again, at most once per kReconnectMillis.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "syslogSocket.h"
#include "traceSyslog.h"

TraceApi* syslogSocketApi = nullptr;

namespace {
const int kTracePriority = LOG_LOCAL0 | LOG_INFO;   // the only priority mirrored
const char kDefaultSocketPath[] = "/dev/log";
const int64_t kReconnectMillis = 1000;
// "<134>" "Mmm dd hh:mm:ss " tag "[pid]" ": ", less the tag.
const size_t kHeaderSizeBesidesTag = 48;
const size_t kTagOffset = 21;   // "<134>" and the time stamp
const size_t kDropReportSize = 64;

// Everything is allocated when the host switches; sending only writes here.
struct SyslogSocket {
    sockaddr_un address;
    socklen_t addressLength;
    int fd;                       // -1 while not connected
    int64_t nextConnect;          // monotonic milliseconds of the next attempt
    char* tag;                    // owned
    bool withPid;
    bool toStderr;                // LOG_PERROR
    bool muted;                   // the log mask excludes LOG_INFO
    char* header;                 // owned: everything before the line's text
    size_t headerSize;
    size_t headerLength;
    time_t headerSecond;          // -1: build the header before the next send
    pid_t headerPid;
    unsigned long pendingDrops;   // since the last line that got through
    unsigned long totalDrops;
};

SyslogSocket* active = nullptr;

int64_t monotonicMillis()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// 0 and a connected non-blocking socket in *fd, or the errno value.
int connectSocket(const sockaddr_un& address, socklen_t length, int* fd)
{
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return errno;
    if (connect(sock, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        int error = errno;
        close(sock);
        return error;
    }
    *fd = sock;
    return 0;
}

// A daemon that is not there yet: lines are dropped until it is.
bool daemonAbsent(int error)
{
    return error == ENOENT || error == ECONNREFUSED;
}

// Errors of a send that leave the connection usable: the daemon is only
// behind (its queue is full) or memory is short for the moment.
bool connectionKept(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM ||
           error == EINTR;
}

bool reconnect(SyslogSocket& s)
{
    int64_t now = monotonicMillis();
    if (now < s.nextConnect)
        return false;
    s.nextConnect = now + kReconnectMillis;
    return connectSocket(s.address, s.addressLength, &s.fd) == 0;
}

void disconnect(SyslogSocket& s)
{
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
}

// The header as syslog() writes it: strftime's "%h %e %T " in the C locale,
// then the tag, the pid with LOG_PID, and ": ".
void refreshHeader(SyslogSocket& s)
{
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(nullptr);
    pid_t pid = s.withPid ? getpid() : 0;
    if (now == s.headerSecond && pid == s.headerPid)
        return;
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
        memset(&local, 0, sizeof local);
    int length = snprintf(s.header, s.headerSize, "<%d>%s %2d %02d:%02d:%02d %s", kTracePriority,
                          kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, s.tag);
    if (s.withPid)
        length += snprintf(s.header + length, s.headerSize - length, "[%d]", static_cast<int>(pid));
    length += snprintf(s.header + length, s.headerSize - length, ": ");
    s.headerLength = static_cast<size_t>(length);
    s.headerSecond = now;
    s.headerPid = pid;
}

// One datagram, header and text; 0 or the send's errno value.
int sendDatagram(SyslogSocket& s, const char* text)
{
    struct iovec parts[2];
    parts[0].iov_base = s.header;
    parts[0].iov_len = s.headerLength;
    parts[1].iov_base = const_cast<char*>(text);
    parts[1].iov_len = strlen(text);
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    return sendmsg(s.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 ? errno : 0;
}

// A daemon that went away since the last send gets one immediate attempt to
// reconnect, so a line after an idle restart is not lost.
bool trySend(SyslogSocket& s, const char* text)
{
    int error = sendDatagram(s, text);
    if (error == 0)
        return true;
    if (connectionKept(error))
        return false;
    disconnect(s);
    return reconnect(s) && sendDatagram(s, text) == 0;
}

// As syslog() does with LOG_PERROR: tag, pid, ": ", the text, and a newline
// unless the text ends with one. Whatever the socket does.
void echoToStderr(SyslogSocket& s, const char* text)
{
    size_t length = strlen(text);
    struct iovec parts[3];
    parts[0].iov_base = s.header + kTagOffset;
    parts[0].iov_len = s.headerLength - kTagOffset;
    parts[1].iov_base = const_cast<char*>(text);
    parts[1].iov_len = length;
    parts[2].iov_base = const_cast<char*>("\n");
    parts[2].iov_len = length > 0 && text[length - 1] == '\n' ? 0 : 1;
    writev(STDERR_FILENO, parts, 3);
}

bool deliver(SyslogSocket& s, const char* text)
{
    if (s.fd < 0 && !reconnect(s))
        return false;
    if (s.pendingDrops > 0) {
        char report[kDropReportSize];
        snprintf(report, sizeof report, "traceLib to syslog dropped %lu line%s", s.pendingDrops,
                 s.pendingDrops == 1 ? "" : "s");
        if (!trySend(s, report))
            return false;
        s.pendingDrops = 0;
    }
    return trySend(s, text);
}

void destroy(SyslogSocket* s)
{
    if (s == nullptr)
        return;
    disconnect(*s);
    delete[] s->tag;
    delete[] s->header;
    delete s;
}

SyslogSocket* newSyslogSocket(const sockaddr_un& address, socklen_t length, int fd,
                              const char* ident, int options)
{
    const char* tag = ident != nullptr ? ident : program_invocation_short_name;
    if (tag == nullptr)
        tag = "";
    SyslogSocket* s = new SyslogSocket();
    s->address = address;
    s->addressLength = length;
    s->fd = fd;
    s->nextConnect = monotonicMillis() + (fd < 0 ? kReconnectMillis : 0);
    size_t tagSize = strlen(tag) + 1;
    s->tag = new char[tagSize];
    memcpy(s->tag, tag, tagSize);
    s->withPid = (options & LOG_PID) != 0;
    s->toStderr = (options & LOG_PERROR) != 0;
    s->muted = (setlogmask(0) & LOG_MASK(LOG_PRI(kTracePriority))) == 0;
    s->headerSize = tagSize + kHeaderSizeBesidesTag;
    s->header = new char[s->headerSize];
    s->headerLength = 0;
    s->headerSecond = -1;
    s->headerPid = 0;
    s->pendingDrops = 0;
    s->totalDrops = 0;
    // The first localtime_r loads the time zone, which allocates: done here,
    // not on a frame's path.
    refreshHeader(*s);
    return s;
}
}

void sendToSyslogSocket(const char* line)
{
    SyslogSocket& s = *active;
    if (s.muted)
        return;
    int savedErrno = errno;
    refreshHeader(s);
    if (s.toStderr)
        echoToStderr(s, line);
    if (!deliver(s, line)) {
        s.pendingDrops++;
        s.totalDrops++;
    }
    errno = savedErrno;
}

void forgetSyslogSocket(TraceApi* api)
{
    traceSyslogDefault(api);
}

int traceSyslogNonBlocking(TraceApi* api, const char* socketPath, const char* ident, int options)
{
    if (api == nullptr)
        return EINVAL;
    if (syslogSocketApi != nullptr && syslogSocketApi != api)
        return EBUSY;
    const char* path = socketPath != nullptr ? socketPath : kDefaultSocketPath;
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    size_t pathLength = strlen(path);
    if (pathLength == 0)
        return ENOENT;
    if (pathLength >= sizeof address.sun_path)
        return ENAMETOOLONG;
    memcpy(address.sun_path, path, pathLength + 1);
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength + 1);

    int fd = -1;
    int error = connectSocket(address, length, &fd);
    if (error != 0 && !daemonAbsent(error))
        return error;
    SyslogSocket* previous = active;
    active = newSyslogSocket(address, length, fd, ident, options);
    syslogSocketApi = api;
    destroy(previous);
    return 0;
}

void traceSyslogDefault(TraceApi* api)
{
    if (api == nullptr || api != syslogSocketApi)
        return;
    syslogSocketApi = nullptr;
    destroy(active);
    active = nullptr;
}

unsigned long traceSyslogDropped(TraceApi* api)
{
    return api != nullptr && api == syslogSocketApi ? active->totalDrops : 0;
}
