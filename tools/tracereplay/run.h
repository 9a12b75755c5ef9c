// One whole run of the tool: check that the outputs can be written, set up
// the library, replay every merged frame with the clock set to its capture
// time (starting over when a file must be sorted whole), then write the
// saved trace (to a path or to standard output) and the debug dump, and say
// on standard error what did not go as captured.
#ifndef TOOLS_TRACEREPLAY_RUN_H
#define TOOLS_TRACEREPLAY_RUN_H

#include "options.h"

namespace replay {

constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;  // output written, but some input skipped
constexpr int kExitUsage = 2;
constexpr int kExitNothingWritten = 3;

int runReplay(const Options& options);

}  // namespace replay

#endif
