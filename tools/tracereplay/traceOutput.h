// The files the replay writes: the saved trace (to a path or to standard
// output) and the debug dump.
#ifndef TOOLS_TRACEREPLAY_TRACEOUTPUT_H
#define TOOLS_TRACEREPLAY_TRACEOUTPUT_H

#include <string>

#include "diagnostics.h"
#include "traceApi.h"

namespace replay {

// An empty path writes the saved trace to standard output. False (and
// reported) when the file could not be written.
bool writeSavedTrace(TraceApi& api, const std::string& path, Diagnostics& diagnostics);

bool writeDebugDump(TraceApi& api, const std::string& path, Diagnostics& diagnostics);

}  // namespace replay

#endif
