// Mirrored FC traces through the non-blocking socket (traceSyslog.h): to a
// socket that a thread of this binary reads, and to one that nobody reads,
// where syslog() would block for good. Each runs beside the mirrored floor
// (floors.h), which builds the line by hand and calls syslog(); the syslog()
// path itself is the fc_rx_mirrored case.
//
// syslog() only talks to /dev/log. When it may (root), this binary gives
// itself a private mount namespace at start whose /dev is a directory of its
// own holding the read socket as "log": every syslog() call of the run, the
// library's and the floors', goes there and never to the machine's daemon.
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "benchFrames.h"
#include "floors.h"
#include "measure.h"
#include "traceApi.h"
#include "traceSyslog.h"

namespace {

constexpr int kRingEntries = 1024;

int boundSocket(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct MirrorSockets {
    std::string read, unread;  // empty if they could not be made
    bool devLog = false;       // syslog() reaches `read`
};

// Made once, before main and before any thread: the namespace is entered
// by the process's only thread, and the reader thread starts in it.
MirrorSockets makeSockets()
{
    MirrorSockets sockets;
    char dir[] = "/tmp/tracelibBenchLogXXXXXX";
    if (mkdtemp(dir) == nullptr)
        return sockets;
    int reader = boundSocket(std::string(dir) + "/log");
    int unread = boundSocket(std::string(dir) + "/unread");
    if (reader < 0 || unread < 0)
        return sockets;
    sockets.read = std::string(dir) + "/log";
    sockets.unread = std::string(dir) + "/unread";
    sockets.devLog = unshare(CLONE_NEWNS) == 0 &&
                     mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount(dir, "/dev", "none", MS_BIND, nullptr) == 0;
    if (!sockets.devLog)
        fprintf(stderr,
                "syslog bench: no private /dev (not root?): syslog() goes to the "
                "machine's /dev/log\n");
    std::thread([reader] {
        char line[1024];
        for (;;)
            if (recv(reader, line, sizeof line, 0) < 0)
                return;
    }).detach();
    return sockets;
}

const MirrorSockets& mirrorSockets()
{
    static const MirrorSockets sockets = makeSockets();
    return sockets;
}

// One TraceApi for both socket cases: each points it at its own socket.
TraceApi& socketMirroredApi()
{
    static TraceApi* api = [] {
        TraceApi* a = new TraceApi();
        a->initTraceBuffer(1, nullptr, kRingEntries, true);
        a->captureFcFrame();
        a->syslogEnable(true);
        return a;
    }();
    return *api;
}

void runSocketCase(benchmark::State& state, const std::string& path)
{
    TraceApi& api = socketMirroredApi();
    if (path.empty() || traceSyslogNonBlocking(&api, path.c_str(), "tracelib_bench", 0) != 0) {
        state.SkipWithError("no socket to mirror to");
        return;
    }
    fcFrame* frame = &benchFrames().fcpCommand.frame;
    measureLoop(state, [&] { api.traceRx(frame); });
}

void runMirroredFloor(benchmark::State& state)
{
    HandRing ring(kRingEntries);
    RegisterFrameEntry rule{};
    rule.offset_from = 1;
    fcFrame* frame = &benchFrames().fcpCommand.frame;
    static char line[kFloorLineSize];
    measureLoop(state, [&] { floorFcRxMirrored(ring, frame, &rule, line); });
}

void registerAll()
{
    const MirrorSockets& sockets = mirrorSockets();
    benchmark::RegisterBenchmark("fc_rx_mirrored_socket/lib", [&sockets](benchmark::State& state) {
        runSocketCase(state, sockets.read);
    });
    benchmark::RegisterBenchmark("fc_rx_mirrored_socket/floor", runMirroredFloor);
    benchmark::RegisterBenchmark("fc_rx_mirrored_unread/lib", [&sockets](benchmark::State& state) {
        runSocketCase(state, sockets.unread);
    });
    benchmark::RegisterBenchmark("fc_rx_mirrored_unread/floor", runMirroredFloor);
}

const bool kRegistered = (registerAll(), true);

}  // namespace
