// Recovery: the saved trace file of a dead process, rebuilt from its ring
// files by the library itself. A TraceApi of this process gets one buffer per
// ring (in the order the dead process made them, with its records and
// position) and one step per described step (the library's own step classes
// for built-in kinds, raw words for the host's), then writes the file with
// saveTrace; the filter section comes from the step file.
#ifndef TRACELIB_TOOLS_TRACERECOVER_RECOVERY_H
#define TRACELIB_TOOLS_TRACERECOVER_RECOVERY_H

#include <stdint.h>

#include <string>
#include <vector>

struct RecoveredProcess {
    uint32_t pid;
    std::string text;   // the saved trace file
};

struct Recovery {
    std::vector<RecoveredProcess> processes;   // by process id
    std::vector<std::string> errors;           // "<file>: <reason>", one per unusable file
};

// `paths` are ring files or directories, whose "*.ring" files are taken.
Recovery recoverRings(const std::vector<std::string>& paths);

#endif
