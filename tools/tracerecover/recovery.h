// Recovery: the saved trace file of a dead process, rebuilt from its ring
// files by the library itself. A TraceApi of this process gets one buffer per
// ring (in the order the dead process made them, with its records and
// position) and one step per described step (the library's own step classes
// for built-in kinds, raw words for the host's and for ids the step file does
// not know), then writes the file with saveTrace; the filter section comes
// from the step file.
//
// Only files of one run are recovered together: a ring of another run under
// the same pid is left out with an error naming it. Without a usable step
// file the rings are still recovered, every record as raw words.
//
// The death can cut the newest trace of a ring short. A slot handed out but
// never written is left out; a trace that lacks its end mark is printed as
// far as it was recorded and its line ends with kCutMark.
#ifndef TRACELIB_TOOLS_TRACERECOVER_RECOVERY_H
#define TRACELIB_TOOLS_TRACERECOVER_RECOVERY_H

#include <stdint.h>

#include <string>
#include <vector>

#include "ringFiles.h"

// Ends the line of a trace cut short, after the text of its last record.
const char kCutMark[] = "  [cut]";

struct RecoveredProcess {
    uint32_t pid = 0;
    std::string text;   // the saved trace file
    int cutTraces = 0;  // traces ended with kCutMark
};

struct Recovery {
    std::vector<RecoveredProcess> processes;  // by process id
    std::vector<std::string> errors;          // "<file>: <reason>", one per unusable file
};

// `paths` are ring files or directories, whose "*.ring" entries are taken.
Recovery recoverRings(const std::vector<std::string>& paths);

// The saved trace file of one run's rings, already read; a null table prints
// every record as raw words.
RecoveredProcess recoverRun(const StepTable* table, std::vector<RingImage> rings);

#endif
