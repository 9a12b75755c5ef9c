// tracereplay: capture files through the trace library.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "run.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    replay::Options options;
    try {
        options = replay::parseOptions(args);
    } catch (const replay::UsageError& error) {
        std::fprintf(stderr, "tracereplay: %s\nTry 'tracereplay --help'.\n", error.what());
        return replay::kExitUsage;
    }
    if (options.version) {
        std::printf("tracereplay (traceLib) %s\n", TRACELIB_VERSION);
        return replay::kExitOk;
    }
    if (options.help) {
        replay::printUsage(stdout);
        return replay::kExitOk;
    }
    return replay::runReplay(options);
}
