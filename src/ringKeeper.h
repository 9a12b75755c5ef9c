// The one TraceApi per process whose buffers are kept in ring files, and the
// step file written beside them (ringSteps.cpp). Owned by ringFile.cpp.
#ifndef TRACELIB_SRC_RINGKEEPER_H
#define TRACELIB_SRC_RINGKEEPER_H

#include <stdint.h>
#include <sys/types.h>

#include "recoveryHooks.h"

class TraceApi;

struct RingKeeper {
    TraceApi* api;            // null while no rings are kept
    char* directory;          // owned
    char* stepPath;           // owned: made once, so that removing needs no memory
    pid_t pid;                // of the process when the rings were asked for
    uint32_t identifierId;    // api's identifier step
    uint32_t sequence;        // creation number of the next ring file
    uint64_t runId;           // the process's run id, in every file's header
};

// 64 random bits drawn once per process (again in a forked child).
TRACELIB_INTERNAL uint64_t processRunId();

// "<directory>/trace-<pid>.steps", owned by the caller.
TRACELIB_INTERNAL char* newStepPath(const RingKeeper& keeper);
// Rewrites the step file: the registry's steps and api's filters. Failures
// (short of memory included) leave the previous file in place.
TRACELIB_INTERNAL void writeStepFile(RingKeeper& keeper);
TRACELIB_INTERNAL void removeStepFile(RingKeeper& keeper);

#endif
