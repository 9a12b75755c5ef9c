#include "run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture.h"
#include "frameReplay.h"
#include "hostsim.h"
#include "hostsimClock.h"
#include "readFilter.h"
#include "report.h"
#include "traceApi.h"
#include "traceFiles.h"
#include "traceSyslog.h"

namespace replay {

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;

std::string errnoText()
{
    return std::strerror(errno);
}

std::vector<char> cString(const std::string& text)
{
    std::vector<char> chars(text.begin(), text.end());
    chars.push_back('\0');
    return chars;
}

// The saved trace and the dump, made sure of before the replay so that a
// path that cannot be written is found out at once. Nothing is truncated
// until the replay has something to write: each file is written whole under
// a temporary name and renamed (traceFiles.h), and a file created here for a
// run that writes nothing is removed again. Every failure is reported with
// its reason and ends the run with kExitNothingWritten.
class Outputs {
public:
    bool prepare(const Options& options, Report& report)
    {
        if (overwritesAnInput(options, report))
            return false;
        toStdout_ = options.outputPath.empty() || options.outputPath == "-";
        tracePath_ = toStdout_ ? temporaryFile(report) : options.outputPath;
        dumpPath_ = options.dumpPath;
        return !tracePath_.empty() && (toStdout_ || claim(tracePath_, report)) &&
               (dumpPath_.empty() || claim(dumpPath_, report));
    }

    bool write(TraceApi& api, Report& report)
    {
        bool ok = save(traceSaveFile(&api, tracePath_.c_str()), tracePath_, report);
        if (ok && toStdout_)
            ok = copyToStdout(report);
        if (!dumpPath_.empty())
            ok = save(traceDumpFile(&api, dumpPath_.c_str()), dumpPath_, report) && ok;
        return ok;
    }

    ~Outputs()
    {
        for (const std::string& path : created_)
            unlink(path.c_str());
        if (toStdout_ && !tracePath_.empty())
            unlink(tracePath_.c_str());
    }

private:
    // An output that is one of the inputs (the same file by device and
    // inode, whatever the names or links) would destroy the capture.
    static bool overwritesAnInput(const Options& options, Report& report)
    {
        bool refused = false;
        for (const std::string* output : {&options.outputPath, &options.dumpPath}) {
            struct stat out;
            if (output->empty() || *output == "-" || stat(output->c_str(), &out) != 0 ||
                !S_ISREG(out.st_mode))
                continue;
            for (const InputFile& input : options.inputs) {
                struct stat in;
                const int got =
                    input.path == "-" ? fstat(STDIN_FILENO, &in) : stat(input.path.c_str(), &in);
                if (got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
                    const std::string name = input.path == "-" ? "standard input" : input.path;
                    report.file(*output,
                                "is also the capture " + name + ": refusing to overwrite an input");
                    refused = true;
                    break;
                }
            }
        }
        return refused;
    }

    bool claim(const std::string& path, Report& report)
    {
        struct stat status;
        const bool existed = stat(path.c_str(), &status) == 0;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0666);
        if (fd < 0) {
            report.file(path, "cannot write: " + errnoText());
            return false;
        }
        close(fd);
        if (!existed)
            created_.push_back(path);
        return true;
    }

    // A file that was written is no longer the empty one made by claim.
    bool save(int error, const std::string& path, Report& report)
    {
        if (error != 0) {
            const std::string what = toStdout_ && path == tracePath_
                                         ? "cannot hold the saved trace for standard output: "
                                         : "cannot write: ";
            report.file(path, what + std::strerror(error));
            return false;
        }
        created_.erase(std::remove(created_.begin(), created_.end(), path), created_.end());
        return true;
    }

    // The library writes to a path: the trace for standard output goes to a
    // private temporary file first.
    static std::string temporaryFile(Report& report)
    {
        const char* dir = std::getenv("TMPDIR");
        std::string directory = dir && *dir ? dir : "/tmp";
        std::vector<char> path = cString(directory + "/tracereplay-XXXXXX");
        int fd = mkstemp(path.data());
        if (fd < 0) {
            report.file(directory, "cannot create a temporary file: " + errnoText());
            return "";
        }
        close(fd);
        return path.data();
    }

    bool copyToStdout(Report& report)
    {
        std::FILE* file = std::fopen(tracePath_.c_str(), "r");
        if (!file) {
            report.file(tracePath_, "saved trace vanished: " + errnoText());
            return false;
        }
        char block[65536];
        size_t got;
        bool ok = true;
        while (ok && (got = std::fread(block, 1, sizeof block, file)) > 0)
            ok = std::fwrite(block, 1, got, stdout) == got;
        const int readError = std::ferror(file) ? errno : 0;
        std::fclose(file);
        if (readError != 0) {
            report.file(tracePath_, "cannot read the saved trace back: " +
                                        std::string(std::strerror(readError)));
            return false;
        }
        if (std::fflush(stdout) != 0 || !ok) {
            report.file("standard output", "cannot write: " + errnoText());
            return false;
        }
        return true;
    }

    bool toStdout_ = false;
    std::string tracePath_;
    std::string dumpPath_;
    std::vector<std::string> created_;
};

// Counts the records each buffer takes during the replay, so that a buffer
// that wrapped can say how much it lost and what size would have held it.
class WrapWatch {
public:
    WrapWatch(TraceApi& api, const std::vector<BufferRequest>& buffers)
    {
        for (const BufferRequest& request : buffers)
            if (TraceBuffer* buffer = api.findBuffer(request.id))
                watched_.push_back({buffer, buffer->recordsHandedOut()});
    }

    void report(Report& report) const
    {
        for (const Watched& w : watched_) {
            const uint64_t entries = static_cast<uint64_t>(w.buffer->numEntries);
            const uint64_t records = w.buffer->recordsHandedOut() - w.before;
            if (records <= entries)
                continue;
            uint64_t fits = entries;
            while (fits < records)
                fits *= 2;
            std::string id = std::to_string(w.buffer->bufferId);
            std::string advice = fits <= kMaxBufferEntries
                                     ? "--buffer id=" + id + ",entries=" + std::to_string(fits) +
                                           " would hold them all"
                                     : "more than the largest buffer holds";
            report.note("buffer " + id + " (" + w.buffer->bufferName +
                        ") wrapped: " + std::to_string(records - entries) + " of " +
                        std::to_string(records) + " records overwritten; " + advice);
        }
    }

private:
    struct Watched {
        TraceBuffer* buffer;
        uint64_t before;  // records handed out before the replay
    };
    std::vector<Watched> watched_;
};

struct ReplayCounts {
    unsigned long frames = 0;   // frames played
    unsigned long skipped = 0;  // frames that could not be decoded
};

std::string whyNotTraced(const CapturedFrame& frame, DecodeStatus status)
{
    std::string why = decodeStatusText(status);
    if (status == DecodeStatus::UnsupportedLinkType)
        why += " " + std::to_string(frame.linkType);
    if (frame.length >= frame.wireLength)
        return why + " (" + std::to_string(frame.length) + " bytes)";
    std::string cut = "captured " + std::to_string(frame.length) + " of " +
                      std::to_string(frame.wireLength) + " bytes";
    if (frame.snapLength != 0 && frame.snapLength <= frame.length)  // editcap -s keeps the header's
        cut += " (snap length " + std::to_string(frame.snapLength) + ")";
    return status == DecodeStatus::Ok ? cut : cut + ": " + why;
}

// False when the seconds do not fit the trace record's 32 bits (from
// 2038-01-19 on): the clock is set to them wrapped, as the record would.
bool setClock(int64_t micros)
{
    int64_t seconds = micros / kMicrosPerSecond;
    int64_t rest = micros % kMicrosPerSecond;
    if (rest < 0) {
        rest += kMicrosPerSecond;
        --seconds;
    }
    hostsimClockSet(static_cast<int32_t>(seconds), static_cast<int32_t>(rest));
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

// useCaptureTime: the library reads each frame's capture time as the time
// of day; otherwise it reads the real time.
ReplayCounts replayFrames(CaptureMerge& merge, FrameReplayer& replayer, bool useCaptureTime,
                          unsigned long count, Report& report, Progress& progress)
{
    ReplayCounts counts;
    CapturedFrame frame;
    const std::string* path = nullptr;
    while ((count == 0 || counts.frames < count) && merge.next(frame, path)) {
        ++counts.frames;
        if (useCaptureTime && !setClock(frame.micros))
            report.countOnly(Problem::TimeRange);
        DecodeStatus status = replayer.replay(frame.bytes, frame.length, frame.wireLength,
                                              frame.linkType, frame.port);
        if (status != DecodeStatus::Ok) {
            ++counts.skipped;
            report.frame(Problem::Skipped, *path, frame.number, whyNotTraced(frame, status));
        } else if (frame.length < frame.wireLength) {
            report.frame(Problem::Cut, *path, frame.number, whyNotTraced(frame, status));
        }
        progress.frameDone(counts.frames, frame.number, path->c_str());
    }
    hostsimClockUseReal();
    progress.clear();
    return counts;
}

void printSummary(const ReplayCounts& counts, const FrameReplayer& replayer, bool filtered,
                  unsigned long filteredOut, bool localTime)
{
    std::string frames = std::to_string(counts.frames) + " frames";
    if (filtered)
        frames = std::to_string(counts.frames) + " of " +
                 std::to_string(counts.frames + filteredOut) + " frames matched the filter";
    std::fprintf(stderr,
                 "tracereplay: %s: %lu received, %lu transmitted, %lu skipped; times in %s\n",
                 frames.c_str(), replayer.received(), replayer.transmitted(), counts.skipped,
                 localTime ? "local time" : "UTC");
}

// `tracereplay -r f.pcap 'ether proto 0x8906'`, as tcpdump takes it: a
// missing "file" with a blank in its name is most likely an expression.
void noteExpressionsGivenAsFiles(const Options& options, Report& report)
{
    for (const InputFile& input : options.inputs) {
        struct stat status;
        if (input.path.find(' ') != std::string::npos && stat(input.path.c_str(), &status) != 0)
            report.note(input.path + ": a filter expression? give it with -f");
    }
}

}  // namespace

int runReplay(const Options& options)
{
    // A filter that cannot work is a bad command line: said before any file is opened.
    std::unique_ptr<ReadFilter> filter;
    if (options.readFilter) {
        filter = std::make_unique<ReadFilter>(*options.readFilter);
        std::string error;
        if (!filter->check(error)) {
            std::fprintf(stderr, "tracereplay: filter '%s': %s\n", options.readFilter->c_str(),
                         error.c_str());
            return kExitUsage;
        }
    }
    hostsimTimesInLocalZone(options.localTime);
    // The library never opens the system log; with LOG_PERROR every line it
    // logs (mirrored traces, file errors) is also seen on standard error.
    openlog("tracereplay", LOG_PERROR, LOG_USER);
    Outputs outputs;
    std::vector<std::string> sortWhole;
    for (;;) {
        Report report;
        if (sortWhole.empty() && !outputs.prepare(options, report)) {
            report.print();
            return kExitNothingWritten;
        }
        for (const std::string& path : sortWhole)
            report.note(path + ": out of order beyond the reorder window of " +
                        std::to_string(kReorderWindow) + " frames: sorted whole");
        TraceSetup setup;  // outlives the API: its steps are named by the API's filters
        TraceApi api;
        setup.addBuffers(api, options.buffers);
        setup.addFilters(api, options.filters);
        if (options.syslogNonBlocking) {
            // The identity and options of the openlog call above.
            int error = traceSyslogNonBlocking(&api, nullptr, "tracereplay", LOG_PERROR);
            if (error != 0)
                report.note(std::string("--syslog-nonblocking: ") + std::strerror(error) +
                            ": mirrored through syslog()");
        }
        if (options.syslog)
            api.syslogTrace(true, nullptr);

        CaptureMerge merge(options.inputs, sortWhole, options.sortMemory,
                           {filter.get(), options.frameCount}, report);
        noteExpressionsGivenAsFiles(options, report);
        if (merge.openFiles() == 0) {
            report.note("no capture file could be read: nothing written");
            report.print();
            return kExitNothingWritten;
        }
        FrameReplayer replayer(api, options.local);
        WrapWatch wraps(api, options.buffers);
        Progress progress(!options.quiet);
        ReplayCounts counts =
            replayFrames(merge, replayer, !options.wallClock, options.frameCount, report, progress);
        if (!merge.filterProblem().empty()) {
            report.note(merge.filterProblem() + ": nothing written");
            report.print();
            return kExitUsage;
        }
        if (!merge.restartWith().empty()) {
            sortWhole.push_back(merge.restartWith());
            continue;
        }
        merge.reportPorts(report);
        wraps.report(report);
        const bool written = outputs.write(api, report);
        report.print();
        if (!options.quiet)
            printSummary(counts, replayer, filter != nullptr, merge.filteredOut(),
                         options.localTime);
        if (!written)
            return kExitNothingWritten;
        return report.inputSkipped() ? kExitSkipped : kExitOk;
    }
}

}  // namespace replay
