#include "run.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture.h"
#include "frameReplay.h"
#include "hostsimClock.h"
#include "report.h"
#include "traceApi.h"

namespace replay {

namespace {

// The library reports open errors only to the system log; trying the path
// first gives the user a proper message.
bool canWrite(const std::string& path, Diagnostics& diagnostics)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        diagnostics.fileError(path, std::string("cannot write: ") + std::strerror(errno));
        return false;
    }
    std::fclose(file);
    return true;
}

bool copyToStdout(const std::string& path, Diagnostics& diagnostics)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        diagnostics.error("saved trace vanished: " + std::string(std::strerror(errno)));
        return false;
    }
    char block[65536];
    size_t got;
    bool ok = true;
    while (ok && (got = std::fread(block, 1, sizeof block, file)) > 0)
        ok = std::fwrite(block, 1, got, stdout) == got;
    std::fclose(file);
    if (std::fflush(stdout) != 0 || !ok) {
        diagnostics.error("cannot write to standard output: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

std::string temporaryDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// saveTrace wants a path: the trace goes to a private temporary file first.
bool saveToStdout(TraceApi& api, Diagnostics& diagnostics)
{
    std::string pattern = temporaryDirectory() + "/tracereplay-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    int fd = mkstemp(path.data());
    if (fd < 0) {
        diagnostics.error("cannot create a temporary file in " + temporaryDirectory() + ": " +
                          std::strerror(errno));
        return false;
    }
    close(fd);
    api.saveTrace(path.data());
    bool ok = copyToStdout(path.data(), diagnostics);
    unlink(path.data());
    return ok;
}

}  // namespace

bool writeSavedTrace(TraceApi& api, const std::string& path, Diagnostics& diagnostics)
{
    if (path.empty() || path == "-")
        return saveToStdout(api, diagnostics);
    if (!canWrite(path, diagnostics))
        return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    api.saveTrace(name.data());
    return true;
}

bool writeDebugDump(TraceApi& api, const std::string& path, Diagnostics& diagnostics)
{
    if (!canWrite(path, diagnostics))
        return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    api.debugDump(name.data());
    return true;
}

struct ReplayCounts {
    unsigned long frames = 0;   // frames read from the files
    unsigned long skipped = 0;  // frames that could not be decoded
};

// useCaptureTime: the library reads each frame's capture time as the time
// of day; otherwise it reads the real time.
ReplayCounts replayFrames(CaptureMerge& merge, FrameReplayer& replayer, bool useCaptureTime,
                          Diagnostics& diagnostics, Progress& progress);

ReplayCounts replayFrames(CaptureMerge& merge, FrameReplayer& replayer, bool useCaptureTime,
                          Diagnostics& diagnostics, Progress& progress)
{
    ReplayCounts counts;
    MergedFrame merged;
    while (merge.next(merged)) {
        const CapturedFrame& frame = merged.frame;
        CaptureFile& file = *merged.file;
        ++counts.frames;
        if (useCaptureTime)
            hostsimClockSet(static_cast<int32_t>(frame.time.tv_sec),
                            static_cast<int32_t>(frame.time.tv_usec));
        DecodeStatus status =
            replayer.replay(frame.bytes, frame.length, file.linkType(), file.port());
        if (status != DecodeStatus::Ok) {
            ++counts.skipped;
            diagnostics.frameError(file.path(), frame.number,
                                   std::string(decodeStatusText(status)) + " (" +
                                       std::to_string(frame.length) + " bytes)");
        }
        progress.frameDone(counts.frames, frame.number, file.path().c_str());
    }
    hostsimClockUseReal();
    progress.clear();
    return counts;
}

namespace {

std::vector<std::unique_ptr<CaptureFile>> captureFiles(const Options& options)
{
    std::vector<std::unique_ptr<CaptureFile>> files;
    for (const InputFile& input : options.inputs)
        files.push_back(std::make_unique<CaptureFile>(input.path, input.port));
    return files;
}

void printSummary(const ReplayCounts& counts, const FrameReplayer& replayer)
{
    std::fprintf(stderr, "tracereplay: %lu frames: %lu received, %lu transmitted, %lu skipped\n",
                 counts.frames, replayer.received(), replayer.transmitted(), counts.skipped);
}

bool writeOutputs(TraceApi& api, const Options& options, Diagnostics& diagnostics)
{
    bool ok = writeSavedTrace(api, options.outputPath, diagnostics);
    if (!options.dumpPath.empty())
        ok = writeDebugDump(api, options.dumpPath, diagnostics) && ok;
    return ok;
}

}  // namespace

int runReplay(const Options& options)
{
    // The library never opens the system log; with LOG_PERROR every line it
    // logs (mirrored traces, file errors) is also seen on standard error.
    openlog("tracereplay", LOG_PERROR, LOG_USER);
    Progress progress(!options.quiet);
    Diagnostics diagnostics(&progress);

    TraceSetup setup;  // outlives the API: its steps are named by the API's filters
    TraceApi api;
    setup.addBuffers(api, options.buffers);
    setup.addFilters(api, options.filters);
    if (options.syslog)
        api.syslogTrace(true, nullptr);

    CaptureMerge merge(captureFiles(options), diagnostics);
    FrameReplayer replayer(api, options.local);
    ReplayCounts counts = replayFrames(merge, replayer, !options.wallClock, diagnostics, progress);
    if (!options.quiet && isatty(2))
        printSummary(counts, replayer);

    bool written = writeOutputs(api, options, diagnostics);
    return diagnostics.errors() == 0 && written ? kExitOk : kExitSkipped;
}

}  // namespace replay
