// Mirroring through the non-blocking socket, against a real rsyslogd that
// each test starts on a socket of its own. The syslog() runs happen in a
// child whose /dev is the daemon's directory (a private mount namespace), so
// that syslog()'s fixed "/dev/log" reaches the test's daemon and never the
// machine's.
#include <gtest/gtest.h>

#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <iterator>
#include <set>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#ifndef RUNNING_ON_VALGRIND
#define RUNNING_ON_VALGRIND 0
#endif

#include "apiSupport.h"
#include "fileText.h"
#include "syslogDaemon.h"
#include "traceSyslog.h"

namespace {

using Lines = SyslogDaemon::Lines;
constexpr int32_t kSec = 1700000000;
constexpr int kNoNamespace = 77, kLineLost = 78;
const std::regex kDropReport("traceLib to syslog dropped ([0-9]+) lines?$");

// A host with the FC and ELS presets, a 06 (FCP) filter of five steps whose
// lines run past 254 characters, and a device-event step whose prefix holds
// percent signs.
struct Host {
    explicit Host(int ringEntries = 64)
    {
        api.initTraceBuffer(1, nullptr, ringEntries, true);
        api.captureFcFrame();
        api.captureELS();
        auto* longFilter = new TraceFrameFilter();
        longFilter->rule.offset_from = TraceFrameFilter::kFcFrames;
        longFilter->rule.field_1 = {0xFF000000, 25, 0x06000000};
        for (int i = 0; i < 4; i++)
            longFilter->addStep(api.fcHeader_m);
        longFilter->addStep(api.els_m);
        api.addFrameFilter(longFilter);
        event.fmtPrefix(cs("LOGIN %s%n"));
    }
    // One mirrored line each.
    std::vector<std::function<void()>> script()
    {
        return {
            [this] { api.syslogTrace(true, nullptr); },
            [this] { api.traceRx(&plogi.frame); },
            [this] { api.traceTx(&fcp.frame, &pair); },
            [this] { api.traceDeviceEvent(0x01001f, wwn, 9, 0, event.stepId_m); },
            [this] {
                api.beginTrace();
                api.addToTrace(api.els_m, 0x03000000, 1, 2);
                api.endTrace();
            },
            [this] { api.syslogTrace(false, nullptr); },
        };
    }

    TraceApi api;
    TraceDeviceEvent event;
    WorldWideName wwn{0x10000005, 0x1e123456};
    port_id_t pair = hostsimPortPair(2, 7);
    HostFcFrame plogi{wire(kPlogi), hostsimPort(7)}, fcp{wire(kFcp), hostsimPort(3)};
    HostFcFrame plain{wire("01010203 00010200 08290000 00000000 0042ffff 00000000"),
                      hostsimPort(1)};
};

// Trace lines received, and the drops the received reports add up to.
struct Tally {
    size_t lines = 0;
    unsigned long reported = 0;
};
Tally tally(const Lines& lines)
{
    Tally t;
    std::smatch m;
    for (const std::string& line : lines)
        if (std::regex_search(line, m, kDropReport))
            t.reported += std::stoul(m[1]);
        else
            t.lines++;
    return t;
}

// Traces one frame every 50 ms until the daemon has every line, received or
// reported dropped, and at least `atLeast` of them were received.
bool traceUntilAccounted(Host& host, const SyslogDaemon& daemon, size_t& sent, size_t atLeast,
                         double seconds)
{
    for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         std::chrono::steady_clock::now() < end;) {
        host.api.traceRx(&host.plain.frame);
        sent++;
        auto accounted = [&](const Lines& lines) {
            Tally t = tally(lines);
            return t.lines >= atLeast && t.lines + t.reported == sent;
        };
        if (daemon.waitFor(accounted, 0.05))
            return true;
    }
    return false;
}

// In a child: /dev becomes the daemon's directory for this process only. (The
// file system type "none" is ignored by these calls; memcheck wants a string.)
bool useDaemonAsDevLog(const SyslogDaemon& daemon)
{
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(daemon.directory().c_str(), "/dev", "none", MS_BIND, nullptr) == 0;
}

// Runs body in a child with the daemon at /dev/log; its exit status, or -1
// if it is still running after `seconds` (it is then killed).
int inDevLogChild(const SyslogDaemon& daemon, const std::function<int()>& body, double seconds)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(useDaemonAsDevLog(daemon) ? body() : kNoNamespace);
    int status = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         std::chrono::steady_clock::now() < end; usleep(20000))
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

#define SKIP_WITHOUT_DAEMON()       \
    if (!SyslogDaemon::installed()) \
    GTEST_SKIP() << "rsyslogd is not installed (scripts/deps.sh test installs it)"
#define SKIP_WITHOUT_NAMESPACE(status)                                                 \
    if ((status) == kNoNamespace)                                                      \
    GTEST_SKIP() << "no private mount namespace here (needs root): the syslog() path " \
                    "cannot be pointed at the test's daemon"

// The time stamps a line sent between two moments can carry.
std::set<std::string> stampsBetween(time_t first, time_t last)
{
    std::set<std::string> stamps;
    for (time_t t = first; t <= last; t++) {
        char text[32];
        struct tm local;
        strftime(text, sizeof text, "%h %e %T ", localtime_r(&t, &local));
        stamps.insert(text);
    }
    return stamps;
}

struct Identity {
    const char* ident;  // as given to openlog; null: no openlog call
    int options;
    std::string tag;
};

TEST(SocketMirror, LinesAreThoseOfSyslogByteForByte)
{
    SKIP_WITHOUT_DAEMON();
    const Identity identities[] = {
        {nullptr, 0, program_invocation_short_name},
        {"tracehost", 0, "tracehost"},
        {"trace host", LOG_PID, "trace host\\[[0-9]+\\]"},
    };
    for (const Identity& id : identities) {
        SCOPED_TRACE(id.tag);
        SyslogDaemon daemon;
        ASSERT_TRUE(daemon.start());
        time_t before = time(nullptr);
        // Each line waits until the daemon has it: the socket queue is short.
        int status = inDevLogChild(
            daemon,
            [&] {
                if (id.ident != nullptr)
                    openlog(id.ident, id.options, 0);
                hostsimClockSet(kSec, 42);
                Host host;
                size_t expected = 0;
                for (int run = 0; run < 2; run++) {
                    if (run == 1 &&
                        traceSyslogNonBlocking(&host.api, nullptr, id.ident, id.options) != 0)
                        return kLineLost;
                    for (auto& line : host.script()) {
                        line();
                        expected++;
                        if (!daemon.waitFor([&](const Lines& l) { return l.size() >= expected; },
                                            20))
                            return kLineLost;
                    }
                }
                return 0;
            },
            60);
        time_t after = time(nullptr);
        SKIP_WITHOUT_NAMESPACE(status);
        ASSERT_EQ(status, 0);

        Lines lines = daemon.lines();
        ASSERT_EQ(lines.size(), 12u);
        const std::regex header("^<134>(.{16})" + id.tag + ": ");
        const std::set<std::string> stamps = stampsBetween(before, after);
        for (size_t i = 0; i < 6; i++) {
            std::smatch viaSyslog, viaSocket;
            ASSERT_TRUE(std::regex_search(lines[i], viaSyslog, header)) << lines[i];
            ASSERT_TRUE(std::regex_search(lines[i + 6], viaSocket, header)) << lines[i + 6];
            EXPECT_EQ(stamps.count(viaSocket[1]), 1u) << lines[i + 6];
            EXPECT_EQ(viaSyslog.suffix().str(), viaSocket.suffix().str());
            EXPECT_EQ(viaSyslog[0].length(), viaSocket[0].length());
        }
        EXPECT_NE(lines[0].find("traceLib to syslog enabled"), std::string::npos);
        EXPECT_NE(lines[5].find("traceLib to syslog disabled"), std::string::npos);
        EXPECT_NE(lines[3].find("LOGIN %s%n 01001f/"), std::string::npos) << lines[3];
        EXPECT_EQ(lines[2].size() - lines[2].find(": 2023-") - 2, 254u);
    }
}

// The hazard the socket path exists for: with the daemon stopped, a host
// mirroring through syslog() stops inside the trace call once the socket's
// queue is full, for as long as the daemon stays stopped.
TEST(SocketMirror, SyslogCallsStallWhileTheDaemonIsStopped)
{
    SKIP_WITHOUT_DAEMON();
    SyslogDaemon daemon;
    ASSERT_TRUE(daemon.start());
    daemon.signal(SIGSTOP);
    void* shared =
        mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    volatile int* traced = static_cast<int*>(shared);
    int status = inDevLogChild(
        daemon,
        [traced] {
            Host host;
            host.api.syslogTrace(true, nullptr);
            for (int i = 0; i < 10000; i++, (*traced)++)
                host.api.traceRx(&host.plain.frame);
            return 0;
        },
        3);
    daemon.signal(SIGCONT);
    SKIP_WITHOUT_NAMESPACE(status);
    // Even under memcheck, a host that is not blocked traces hundreds of
    // frames a second.
    EXPECT_EQ(status, -1) << "10000 traces through syslog() finished with the daemon stopped";
    EXPECT_LT(*traced, 100);
    munmap(shared, sizeof(int));
}

TEST(SocketMirror, StoppedDaemonCostsDroppedLinesNotAStall)
{
    SKIP_WITHOUT_DAEMON();
    // Under memcheck the point is memory, not time: fewer frames.
    const size_t frames = RUNNING_ON_VALGRIND ? 20000 : 1000000;
    const int ring = RUNNING_ON_VALGRIND ? 1 << 16 : 1 << 21;
    SyslogDaemon daemon;
    ASSERT_TRUE(daemon.start());
    Host host(ring);
    ASSERT_EQ(traceSyslogNonBlocking(&host.api, daemon.socketPath().c_str(), "tracehost", 0), 0);
    host.api.syslogTrace(true, nullptr);
    ASSERT_TRUE(daemon.waitFor([](const Lines& l) { return l.size() == 1; }, 20));

    daemon.signal(SIGSTOP);
    alarm(240);  // a host that blocks is stopped here, not by the runner
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < frames; i++)
        host.api.traceRx(&host.plain.frame);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    alarm(0);
    RecordProperty("seconds_for_frames_with_daemon_stopped", std::to_string(took.count()));
    const unsigned long dropped = traceSyslogDropped(&host.api);
    EXPECT_GT(dropped, 0u);

    // Every trace is in the ring, whatever became of its line.
    Recs records = recs(host.api.findBuffer(1));
    ASSERT_EQ(records.size(), 2 * frames);
    for (size_t i = 0; i < records.size(); i += 2) {
        ASSERT_EQ(std::get<1>(records[i]), kBegin | kPort);
        ASSERT_EQ(std::get<1>(records[i + 1]), kRx | kEnd);
    }

    // Once the daemon reads again, one line reports the drops, and every
    // line is either received or counted in it.
    daemon.signal(SIGCONT);
    size_t sent = 1 + frames;
    ASSERT_TRUE(traceUntilAccounted(host, daemon, sent, 1, 30));
    Tally t = tally(daemon.lines());
    EXPECT_GE(t.reported, dropped);
    EXPECT_EQ(t.reported, traceSyslogDropped(&host.api));
}

TEST(SocketMirror, AbsentKilledAndRestartedDaemonIsReconnected)
{
    SKIP_WITHOUT_DAEMON();
    SyslogDaemon daemon;
    Host host;
    ASSERT_EQ(traceSyslogNonBlocking(&host.api, daemon.socketPath().c_str(), "tracehost", 0), 0);
    host.api.syslogTrace(true, nullptr);
    for (int i = 0; i < 3; i++)
        host.api.traceRx(&host.plain.frame);
    EXPECT_EQ(traceSyslogDropped(&host.api), 4u);

    size_t sent = 4;
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(traceUntilAccounted(host, daemon, sent, 1, 20));
    EXPECT_TRUE(std::regex_search(daemon.lines().front(), kDropReport));

    // Killed: its socket file stays behind, refusing; restarted: a new one.
    size_t before = tally(daemon.lines()).lines;
    daemon.kill();
    for (int i = 0; i < 3; i++, sent++)
        host.api.traceRx(&host.plain.frame);
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(traceUntilAccounted(host, daemon, sent, before + 1, 20));
    EXPECT_GE(tally(daemon.lines()).reported, 7u);
}

#ifdef TRACEREPLAY_PATH
// The daemon's lines once it has written all it took: none new for 0.5 s.
Lines settledLines(const SyslogDaemon& daemon)
{
    for (size_t count = daemon.lines().size();; count = daemon.lines().size())
        if (!daemon.waitFor([&](const Lines& l) { return l.size() != count; }, 0.5))
            return daemon.lines();
}

// The tool copies every mirrored line to standard error (LOG_PERROR) on
// either path, so the two runs' standard error must be the same bytes; the
// daemon's lines of the second run are lines of the first.
TEST(SocketMirror, ReplayToolMirrorsTheSameLinesThroughTheSocket)
{
    SKIP_WITHOUT_DAEMON();
    SyslogDaemon daemon;
    ASSERT_TRUE(daemon.start());
    std::string stderrText[2];
    Lines received[2];
    const char* flags[] = {"--syslog", "--syslog-nonblocking"};
    for (int run = 0; run < 2; run++) {
        std::string out = daemon.directory() + "/replay.txt";
        std::string err = daemon.directory() + "/replay-" + std::to_string(run) + ".err";
        size_t before = daemon.lines().size();
        int status = inDevLogChild(
            daemon,
            [&] {
                freopen(err.c_str(), "w", stderr);
                execl(TRACEREPLAY_PATH, TRACEREPLAY_PATH, flags[run], "-q", "-o", out.c_str(),
                      SAMPLES_DIR "/fc-target.pcap", (char*)nullptr);
                return 127;
            },
            60);
        SKIP_WITHOUT_NAMESPACE(status);
        ASSERT_EQ(status, 0) << flags[run];
        stderrText[run] = readFile(err);
        Lines all = settledLines(daemon);
        received[run].assign(all.begin() + before, all.end());
    }
    EXPECT_EQ(stderrText[0], stderrText[1]);
    EXPECT_NE(stderrText[0].find("traceLib to syslog enabled"), std::string::npos);
    ASSERT_FALSE(received[1].empty());
    auto text = [](const std::string& line) { return line.substr(21); };  // no <PRI> and stamp
    std::set<std::string> first;
    for (const std::string& line : received[0])
        first.insert(text(line));
    for (const std::string& line : received[1])
        if (!std::regex_search(line, kDropReport)) {
            EXPECT_EQ(first.count(text(line)), 1u) << line;
        }
}
#endif

// A socket of the given type bound at path, or -1.
int boundSocket(const std::string& path, int type)
{
    int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return bind(fd, (struct sockaddr*)&address, sizeof address) == 0 ? fd : -1;
}

TEST(SocketMirror, FailedSwitchLeavesMirroringAsItWas)
{
    SyslogDaemon scratch;  // never started: for its directory
    const std::string reader = scratch.directory() + "/reader",
                      stream = scratch.directory() + "/stream",
                      file = scratch.directory() + "/file";
    int readerFd = boundSocket(reader, SOCK_DGRAM), streamFd = boundSocket(stream, SOCK_STREAM);
    ASSERT_TRUE(readerFd >= 0 && streamFd >= 0 && listen(streamFd, 1) == 0);
    std::ofstream(file) << "x";
    auto next = [&] {
        char text[1024];
        ssize_t n = recv(readerFd, text, sizeof text, MSG_DONTWAIT);
        return n < 0 ? "<nothing>" : std::string(text, size_t(n));
    };

    Host host, other;
    ASSERT_EQ(traceSyslogNonBlocking(&host.api, reader.c_str(), "tracehost", 0), 0);
    host.api.syslogEnable(true);
    const struct {
        TraceApi* api;
        std::string path;
        int error;
    } failures[] = {
        {nullptr, reader, EINVAL},       {&other.api, reader, EBUSY},
        {&host.api, "", ENOENT},         {&host.api, "/" + std::string(200, 'x'), ENAMETOOLONG},
        {&host.api, stream, EPROTOTYPE}, {&host.api, file + "/log", ENOTDIR},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.path);
        EXPECT_EQ(traceSyslogNonBlocking(f.api, f.path.c_str(), "other", LOG_PID), f.error);
        ASSERT_NE(host.api.syslogMsg_m, nullptr);
        host.api.traceRx(&host.plain.frame);
        EXPECT_NE(next().find(" tracehost: "), std::string::npos);
    }
    EXPECT_EQ(next(), "<nothing>");
    EXPECT_EQ(traceSyslogDropped(&host.api), 0u);
    close(readerFd);
    close(streamFd);
}

}  // namespace
