// Turns buffer and filter settings into trace library state: buffers created
// with initTraceBuffer, presets and filters added in command-line order (so
// the last one given is tried first).
#ifndef TOOLS_TRACEREPLAY_TRACESETUP_H
#define TOOLS_TRACEREPLAY_TRACESETUP_H

#include <memory>
#include <vector>

#include "traceApi.h"
#include "traceRequests.h"

namespace replay {

// Owns the steps the tool creates itself (payload steps); keep it alive
// for as long as the TraceApi it set up.
class TraceSetup {
public:
    void addBuffers(TraceApi& api, const std::vector<BufferRequest>& buffers);
    void addFilters(TraceApi& api, const std::vector<FilterRequest>& filters);

private:
    TraceStep* stepFor(TraceApi& api, const StepRequest& request);

    std::vector<std::unique_ptr<TraceStep>> ownSteps_;
};

}  // namespace replay

#endif
