// TraceFrameFilter: which frames are traced, into which buffer, and by which
// steps. The host's matching rule lies at the very start of the object, so
// the filter's own address is the rule handed to the host matcher.
//
// The filter owns its step list but not the steps in it: steps stay their
// creators' and must outlive the filters that name them. Once handed to the
// trace API, the API's filter list owns and deletes the filter.
#ifndef TRACELIB_INCLUDE_FRAMEFILTER_H
#define TRACELIB_INCLUDE_FRAMEFILTER_H

#include <stdio.h>

#include "hostFrame.h"
#include "traceStep.h"

class TraceFrameFilter {
public:
    TraceFrameFilter();
    ~TraceFrameFilter();

    TraceFrameFilter(const TraceFrameFilter&) = delete;
    TraceFrameFilter& operator=(const TraceFrameFilter&) = delete;

    // Appends a step (not owned); the same step may appear more than once.
    void addStep(TraceStep* step);
    void dump(FILE* stream);

    RegisterFrameEntry rule;   // must stay the first member
    int bufferId;              // 0: the trace API's current buffer
    TraceStepList stepList;
};

#endif
