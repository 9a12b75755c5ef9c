// The followed process's steps, made again in this one, so that its records
// are formatted by the library's own step classes: one local step per
// described step (raw words for the host's steps and for ids the step file
// does not know), described again each time the step file is rewritten. The
// step registry never gives an id back, so a step is made once per id of the
// followed process and kept. The object owns every step it makes.
#ifndef TRACELIB_TOOLS_TRACERECOVER_FOLLOWSTEPS_H
#define TRACELIB_TOOLS_TRACERECOVER_FOLLOWSTEPS_H

#include <stdint.h>

#include <map>
#include <memory>
#include <vector>

#include "ringFiles.h"
#include "traceApi.h"

class FollowSteps {
public:
    // `api` lends its identifier step; a null table knows no step.
    FollowSteps(TraceApi& api, const StepTable* table);
    ~FollowSteps();

    // Takes the descriptions of a rewritten step file: steps already made
    // are described again (ids are never reused by a process), new ones are
    // made, and those no longer listed count as destroyed.
    void describe(const StepTable& table);

    uint8_t kindOf(uint16_t id) const;
    // Null for a step the process had destroyed.
    TraceStep* stepFor(uint16_t id);
    TraceStep* missing() { return missing_.get(); }
    // A step that writes as `recorded` does, then the cut mark.
    TraceStep* cut(TraceStep* recorded);

    // The record as this process formats it: its step id made local, the
    // words of a step that stores bytes put back in the writer's order, a
    // destroyed step's record turned into its one line.
    TraceEntry localEntry(TraceEntry entry, bool otherByteOrder);

private:
    TraceApi& api_;
    uint32_t limit_ = 0;
    std::map<uint16_t, std::pair<TraceStep*, uint8_t>> byId_;
    std::map<uint16_t, std::pair<TraceStep*, uint8_t>> made_;  // every step made, by id
    std::map<TraceStep*, TraceStep*> cuts_;                    // the cut step of each step
    std::vector<std::unique_ptr<TraceStep>> owned_;
    std::unique_ptr<TraceStep> raw_;
    std::unique_ptr<TraceStep> missing_;
};

#endif
