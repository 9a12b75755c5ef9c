// The step classes that format another process's records in this one: the
// library's own step for each kind the step file names, raw words for the
// host's steps and for ids the file does not know, the "NULL trace step id"
// line of a destroyed step, and the cut mark after the last record of a
// trace cut short. Shared by the recovery and the follow mode; whoever makes
// a step owns it.
#ifndef TRACELIB_TOOLS_TRACERECOVER_RECOVEREDSTEPS_H
#define TRACELIB_TOOLS_TRACERECOVER_RECOVEREDSTEPS_H

#include <stdint.h>

#include <memory>
#include <string>

#include "ringFiles.h"
#include "traceApi.h"

// A step the host defined, or one the step file does not know: its words as
// they are.
class RawWordsStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override;
};

// Stands in for a step the process had destroyed. The saved file writes such
// a record as one line of its own; the record arrives here with the original
// id in word3 and the end mark set, so that TraceStep::write ends the line
// and the saver adds no blank.
class MissingStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override;
};

// The last record written of a trace cut short: its own step's text, then
// the cut mark; the record carries the end mark, so the line ends.
class CutStep : public TraceStep {
public:
    // Writes as `recorded` does from now on, the cut mark after it.
    void cut(TraceStep* recorded);
    void format(TraceEntry* entry, char* text, int size) override;

private:
    TraceStep* recorded_ = nullptr;
};

// The library's step class for a StepKind; raw words for any other kind.
std::unique_ptr<TraceStep> newRecoveredStep(uint8_t kind);
// Gives `step` the payload selectors and texts the step file describes.
void describeLike(TraceStep* step, const StepInfo& info);
// Replaces a step's prefix and postfix texts; an empty text is none.
void replaceTexts(TraceStep* step, const std::string& prefix, const std::string& postfix);

#endif
