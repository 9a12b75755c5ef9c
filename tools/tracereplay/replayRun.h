// One whole run of the tool: set up the library, replay, write the outputs.
#ifndef TOOLS_TRACEREPLAY_REPLAYRUN_H
#define TOOLS_TRACEREPLAY_REPLAYRUN_H

#include "options.h"

namespace replay {

constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;   // input skipped or output not written
constexpr int kExitUsage = 2;

int runReplay(const Options& options);

}  // namespace replay

#endif
