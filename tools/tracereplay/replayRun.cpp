#include "replayRun.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "captureMerge.h"
#include "diagnostics.h"
#include "frameReplay.h"
#include "progress.h"
#include "replayLoop.h"
#include "traceApi.h"
#include "traceOutput.h"
#include "traceSetup.h"

namespace replay {

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

    TraceSetup setup;   // outlives the API: its steps are named by the API's filters
    TraceApi api;
    setup.addBuffers(api, options.buffers);
    setup.addFilters(api, options.filters);
    if (options.syslog)
        api.syslogTrace(true, nullptr);

    CaptureMerge merge(captureFiles(options), diagnostics);
    FrameReplayer replayer(api, options.local);
    ReplayCounts counts =
        replayFrames(merge, replayer, !options.wallClock, diagnostics, progress);
    if (!options.quiet && isatty(2))
        printSummary(counts, replayer);

    bool written = writeOutputs(api, options, diagnostics);
    return diagnostics.errors() == 0 && written ? kExitOk : kExitSkipped;
}

}  // namespace replay
