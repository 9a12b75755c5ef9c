// Watching a running host: the follower and the snapshot. The host runs in a
// forked child (no exec) that does one step of its script each time the test
// asks; the follower runs in the test's own process, one look at a time, so
// that what it has seen is known at every point.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "apiSupport.h"
#include "fileText.h"
#include "follow.h"
#include "followMain.h"
#include "recovery.h"
#include "traceRecovery.h"

namespace {

constexpr int32_t T0 = 1700000000;
const WorldWideName kName(0x10000005, 0x1e123456);

// The trace lines of a saved trace file: those after the buffer summaries.
std::vector<std::string> traceLines(const std::string& saved)
{
    std::vector<std::string> lines = linesOf(saved), traces;
    bool summaries = false;
    for (const std::string& line : lines) {
        const bool summary = line.find(" Number Events ") != std::string::npos;
        if (summaries && !summary)
            traces.push_back(line);
        summaries = summaries || summary;
    }
    return traces;
}

std::vector<std::string> lastOf(const std::vector<std::string>& lines, size_t count)
{
    return {lines.end() - ptrdiff_t(std::min(count, lines.size())), lines.end()};
}

void pauseMs(int ms)
{
    const struct timespec pause = {0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

// A host in a child process, keeping its rings in `dir`: step k of the
// script runs when the test calls run(k).
class ScriptedHost {
public:
    using Step = std::function<void(TraceApi&)>;

    ScriptedHost(const std::string& dir, std::vector<Step> script)
    {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(fromChild[0]);
            hostsimClockSet(T0, 0);
            TraceApi* api = new TraceApi();
            if (traceKeepRingsIn(api, dir.c_str()) != 0)
                _exit(3);
            // Described at once: every later event step is recovered.
            event_ = new TraceDeviceEvent();
            for (char step; read(toChild[0], &step, 1) == 1;) {
                script[size_t(step)](*api);
                if (write(fromChild[1], &step, 1) != 1)
                    break;
            }
            _exit(0);  // the test closed its end: the host ends
        }
        close(toChild[0]);
        close(fromChild[1]);
        to_ = toChild[1];
        from_ = fromChild[0];
    }
    ~ScriptedHost() { end(SIGKILL); }

    pid_t pid() const { return pid_; }
    // Runs step k; false if the host is gone.
    bool run(int k)
    {
        char step = char(k), done = 0;
        return write(to_, &step, 1) == 1 && read(from_, &done, 1) == 1;
    }
    // Starts step k without waiting for it (a step that never returns).
    void start(int k)
    {
        char step = char(k);
        EXPECT_EQ(write(to_, &step, 1), 1);
    }
    // Ends the host: by `signal`, or (0) by letting it exit. The wait status.
    int end(int signal)
    {
        if (pid_ <= 0)
            return -1;
        if (signal != 0)
            kill(pid_, signal);
        close(to_);
        close(from_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    // One event trace (two records) into buffer `buffer` (0: the current
    // one), its address `value`, a microsecond after the one before.
    static void event(TraceApi& api, uint32_t value, int buffer = 0)
    {
        hostsimClockAdvance(1);
        WorldWideName name = kName;
        api.traceDeviceEvent(value, name, 1, buffer, event_->stepId_m);
    }
    static Step events(int count, uint32_t first = 0)
    {
        return [=](TraceApi& api) {
            for (int i = 0; i < count; i++)
                event(api, first + uint32_t(i));
        };
    }
    static Step save(const std::string& path)
    {
        return [=](TraceApi& api) { api.saveTrace(cs(path.c_str())); };
    }

private:
    static inline TraceDeviceEvent* event_ = nullptr;
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
};

// A follower writing into memory, for one test.
class Watch {
public:
    Watch()
        : out_(open_memstream(&outText_, &outSize_)),
          notes_(open_memstream(&notesText_, &notesSize_)),
          follower_(out_, notes_)
    {
    }
    ~Watch()
    {
        fclose(out_);
        fclose(notes_);
        free(outText_);
        free(notesText_);
    }
    Follower& follower() { return follower_; }
    // Two looks: where stores may become visible out of order, a record is
    // read by the look after the one that saw it handed out.
    void look()
    {
        follower_.poll();
        follower_.poll();
    }
    // Lines printed since the last call.
    std::vector<std::string> newLines()
    {
        fflush(out_);
        std::vector<std::string> lines = linesOf(std::string(outText_, outSize_).substr(taken_));
        taken_ = outSize_;
        return lines;
    }
    std::string notes()
    {
        fflush(notes_);
        return std::string(notesText_, notesSize_);
    }
    // Looks until the followed process is seen to end (bounded, for a hung
    // test rather than a slow one).
    void pollToEnd()
    {
        for (int i = 0; i < 60000 && !follower_.ended(); i++) {
            follower_.poll();
            pauseMs(1);
        }
    }

private:
    char* outText_ = nullptr;
    size_t outSize_ = 0;
    char* notesText_ = nullptr;
    size_t notesSize_ = 0;
    FILE* out_;
    FILE* notes_;
    Follower follower_;
    size_t taken_ = 0;
};

class FollowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "followXXXXXX";
        ASSERT_NE(mkdtemp(dir_.data()), nullptr);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

// A ring of 16 records and traces of two: batches that fit between two
// looks are printed whole; one that laps the follower costs exactly the
// records it overwrote, and the rest is printed as the saved file has it.
TEST_F(FollowTest, FollowerReportsWhatAWrapOverwrote)
{
    ScriptedHost host(dir_, {[](TraceApi& api) { api.initTraceBuffer(1, cs("small"), 16, true); },
                             ScriptedHost::events(5), ScriptedHost::events(6, 5),
                             ScriptedHost::events(12, 11), ScriptedHost::save(path("saved"))});
    ASSERT_TRUE(host.run(0));
    Watch watch;
    ASSERT_TRUE(watch.follower().start({dir_}));
    const struct {
        int step;
        size_t printed;
        uint64_t lost;
    } batches[] = {{1, 5, 0}, {2, 6, 0}, {3, 8, 8}};
    for (const auto& batch : batches) {
        ASSERT_TRUE(host.run(batch.step));
        ASSERT_TRUE(host.run(4));
        watch.look();
        std::vector<std::string> saved = traceLines(readFile(path("saved")));
        EXPECT_EQ(watch.newLines(), lastOf(saved, batch.printed)) << "batch " << batch.step;
        EXPECT_EQ(watch.follower().lostRecords(), batch.lost) << "batch " << batch.step;
    }
    EXPECT_NE(watch.notes().find("buffer 1 (small): at least 8 records lost"), std::string::npos)
        << watch.notes();
}

// A buffer made, and a step described, while the follower watches: the new
// ring's traces merge with the old one's by time, and the new step formats
// its records (not raw words).
TEST_F(FollowTest, FollowerTakesNewBuffersAndSteps)
{
    ScriptedHost host(dir_, {[](TraceApi& api) { api.initTraceBuffer(1, cs("alpha"), 64, true); },
                             ScriptedHost::events(3),
                             [](TraceApi& api) {
                                 api.initTraceBuffer(2, cs("beta"), 64, false);
                                 ScriptedHost::event(api, 0x20, 2);
                                 ScriptedHost::event(api, 0x10, 1);
                                 TraceDeviceEvent* late = new TraceDeviceEvent();
                                 late->fmtPrefix(cs("LATE"));
                                 WorldWideName name = kName;
                                 hostsimClockAdvance(1);
                                 api.traceDeviceEvent(0x21, name, 1, 2, late->stepId_m);
                             },
                             ScriptedHost::save(path("saved"))});
    ASSERT_TRUE(host.run(0));
    ASSERT_TRUE(host.run(1));
    Watch watch;
    ASSERT_TRUE(watch.follower().start({dir_}));
    watch.look();
    EXPECT_EQ(watch.newLines().size(), 3u);
    ASSERT_TRUE(host.run(2));
    ASSERT_TRUE(host.run(3));
    watch.look();
    std::vector<std::string> lines = watch.newLines();
    EXPECT_EQ(lines, lastOf(traceLines(readFile(path("saved"))), 3));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find("LATE 000021/"), std::string::npos) << lines[2];
    EXPECT_NE(watch.notes().find("buffer 2 (beta) made"), std::string::npos) << watch.notes();
}

// The host dies in the middle of a trace, killed or by its own exit: the
// follower prints what was left (the cut trace marked as recovery marks it,
// the same lines recovery gives) and says the process ended.
TEST_F(FollowTest, FollowerFinishesWhenTheProcessEnds)
{
    for (int signal : {SIGKILL, 0}) {
        SCOPED_TRACE(signal);
        ScriptedHost host(dir_, {[](TraceApi& api) { api.initTraceBuffer(1, nullptr, 64, true); },
                                 ScriptedHost::events(2),
                                 [](TraceApi& api) {
                                     api.beginTrace();
                                     api.addToTrace(api.els_m, 0x03000000, 1, 2);
                                 }});
        ASSERT_TRUE(host.run(0));
        Watch watch;
        ASSERT_TRUE(watch.follower().start({dir_}));
        ASSERT_TRUE(host.run(1));
        watch.look();
        EXPECT_EQ(watch.newLines().size(), 2u);
        ASSERT_TRUE(host.run(2));
        watch.look();
        EXPECT_EQ(watch.newLines().size(), 0u) << "an unfinished trace is held";
        const pid_t pid = host.pid();
        host.end(signal);
        watch.pollToEnd();
        ASSERT_TRUE(watch.follower().ended());
        std::vector<std::string> last = watch.newLines();
        Recovery recovery = recoverRings({dir_});
        ASSERT_EQ(recovery.processes.size(), 1u);
        EXPECT_EQ(last, lastOf(traceLines(recovery.processes[0].text), 1));
        ASSERT_EQ(last.size(), 1u);
        EXPECT_NE(last[0].find("ELS PLOGI"), std::string::npos) << last[0];
        EXPECT_EQ(last[0].substr(last[0].size() - strlen(kCutMark)), kCutMark);
        EXPECT_NE(watch.notes().find("process " + std::to_string(pid) + " ended"),
                  std::string::npos)
            << watch.notes();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directory(dir_);
    }
}

// A host recording without pause, numbering its traces: the follower never
// prints one twice, out of order or half written, and every gap was
// reported. A ring of 4 records goes round many times between two reads.
class BusyHost : public FollowTest, public ::testing::WithParamInterface<int> {};

TEST_P(BusyHost, FollowerLosesNothingUnreportedAndPrintsNoHalfRecord)
{
    const int ring = GetParam();
    ScriptedHost host(dir_, {[ring](TraceApi& api) { api.initTraceBuffer(1, nullptr, ring, true); },
                             [](TraceApi& api) {
                                 for (uint32_t i = 0;; i++)
                                     ScriptedHost::event(api, i);
                             }});
    ASSERT_TRUE(host.run(0));
    Watch watch;
    ASSERT_TRUE(watch.follower().start({dir_}));
    host.start(1);
    for (int look = 0; look < 300; look++) {
        watch.follower().poll();
        pauseMs(1);
    }
    host.end(SIGKILL);
    watch.pollToEnd();
    const std::regex trace(R"(1: \S+ \S+ port 1  ([0-9a-f]{6,8})/10:00:00:05:1e:12:34:56)");
    long last = -1, missing = 0;
    for (const std::string& line : watch.newLines()) {
        std::smatch match;
        if (line.find(kCutMark) != std::string::npos)
            continue;  // where the kill cut it
        ASSERT_TRUE(std::regex_match(line, match, trace)) << line;
        const long value = std::stol(match[1], nullptr, 16);
        ASSERT_GT(value, last) << line;
        missing += value - last - 1;
        last = value;
    }
    EXPECT_GT(last, 0);
    if (watch.follower().lostRecords() == 0)
        EXPECT_EQ(missing, 0) << watch.notes();
    else
        EXPECT_GT(missing, 0) << watch.notes();
}

INSTANTIATE_TEST_SUITE_P(Rings, BusyHost, ::testing::Values(256, 4));

// Snapshots of a host that records without pause: each is a well-formed
// saved trace file, every trace whole or marked cut, and the host goes on.
TEST_F(FollowTest, SnapshotOfARunningHostIsWellFormed)
{
    ScriptedHost host(dir_, {[](TraceApi& api) {
                                 api.initTraceBuffer(1, nullptr, 64, true);
                                 api.initTraceBuffer(2, cs("beta"), 16, false);
                             },
                             [](TraceApi& api) {
                                 // Thousands of traces a second, yet slow enough
                                 // that a reader under valgrind copies the
                                 // 16-record ring before the host laps it.
                                 const struct timespec pause = {0, 100 * 1000};
                                 for (uint32_t i = 0;; i++) {
                                     ScriptedHost::event(api, i & 0xffffff, 1 + int(i % 3 == 0));
                                     api.beginTrace();
                                     api.addToTrace(api.els_m, 0x03000000, i, 0);
                                     api.endTrace();
                                     nanosleep(&pause, nullptr);
                                 }
                             }});
    ASSERT_TRUE(host.run(0));
    host.start(1);
    const std::regex trace(
        R"([12]: \S+ \S+( port 1)?(  [0-9a-f]{6}/10:00:00:05:1e:12:34:56|  ELS PLOGI \(03000000 [0-9a-f]{8} 00000000\))?( +\[cut\])?)");
    for (int snapshot = 0; snapshot < 20; snapshot++) {
        Recovery recovery = recoverRings({dir_});
        ASSERT_TRUE(recovery.errors.empty()) << recovery.errors.front();
        ASSERT_EQ(recovery.processes.size(), 1u);
        for (const std::string& line : traceLines(recovery.processes[0].text)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, trace)) << line;
            EXPECT_TRUE(match[2].matched || match[3].matched) << "neither whole nor cut: " << line;
        }
        pauseMs(2);
    }
    EXPECT_EQ(kill(host.pid(), 0), 0) << "the host still runs";
    EXPECT_TRUE(WIFSIGNALED(host.end(SIGKILL)));
}

// `tracerecover --follow ... | head -n 1`: once its reader is gone the
// follower ends, quietly, though the host records nothing more.
TEST_F(FollowTest, FollowerEndsQuietlyWhenItsReaderGoes)
{
    ScriptedHost host(dir_, {[](TraceApi& api) { api.initTraceBuffer(1, nullptr, 64, true); },
                             ScriptedHost::events(3)});
    ASSERT_TRUE(host.run(0));
    ASSERT_TRUE(host.run(1));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string errors = path("errors");
    pid_t follower = fork();
    if (follower == 0) {
        close(out[0]);
        dup2(out[1], STDOUT_FILENO);
        if (freopen(errors.c_str(), "w", stderr) == nullptr)
            _exit(9);
        _exit(followRings({dir_}));
    }
    close(out[1]);
    FILE* reader = fdopen(out[0], "r");
    char line[256];
    ASSERT_NE(fgets(line, sizeof line, reader), nullptr);
    fclose(reader);
    int status = -1;
    for (int i = 0; i < 60000 && waitpid(follower, &status, WNOHANG) == 0; i++)
        pauseMs(1);
    if (!WIFEXITED(status))
        kill(follower, SIGKILL);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(errors), "");
}

}  // namespace
