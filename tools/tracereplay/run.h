// One whole run of the tool: set up the library, replay every merged frame
// with the clock set to its capture time, and write the saved trace (to a
// path or to standard output) and the debug dump.
#ifndef TOOLS_TRACEREPLAY_RUN_H
#define TOOLS_TRACEREPLAY_RUN_H

#include "options.h"

namespace replay {

constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;  // input skipped or output not written
constexpr int kExitUsage = 2;

int runReplay(const Options& options);

}  // namespace replay

#endif
