// TraceFrameFilter: which frames are traced, into which buffer, and by which
// steps. The host's matching rule is the first member, so the rule's address
// handed to the host matcher is the filter's own address.
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
    // Every rule word 0, buffer id 0, no steps. A filter without steps still
    // matches frames, and the trace API then records nothing for them.
    TraceFrameFilter();
    // Deletes the step list's elements, never the steps.
    ~TraceFrameFilter();

    TraceFrameFilter(const TraceFrameFilter&) = delete;
    TraceFrameFilter& operator=(const TraceFrameFilter&) = delete;

    // Appends a step (not owned); the same step may appear more than once.
    // step must be non-null, otherwise the process stops.
    void addStep(TraceStep* step);
    // The rule's flags line, one line for each field group whose mask is
    // non-zero, the buffer line, then each step's describe line. stream must
    // be non-null.
    void dump(FILE* stream);

    RegisterFrameEntry rule;   // first member: its address is the filter's
    int bufferId;              // 0: the trace API's current buffer; an id with
                               // no buffer makes matched frames go untraced
    TraceStepList stepList;
};

#endif
