#include "traceSetup.h"

#include <string>

namespace replay {

void TraceSetup::addBuffers(TraceApi& api, const std::vector<BufferRequest>& buffers)
{
    for (const BufferRequest& buffer : buffers) {
        std::string name = buffer.name;   // the library copies the name
        api.initTraceBuffer(buffer.id, name.empty() ? nullptr : name.data(), buffer.entries,
                            buffer.current);
    }
}

TraceStep* TraceSetup::stepFor(TraceApi& api, const StepRequest& request)
{
    switch (request.kind) {
    case StepKind::FcHeader: return api.fcHeader_m;
    case StepKind::Els: return api.els_m;
    case StepKind::EthMacs: return api.ethDmacSmac_m;
    case StepKind::EthData: return api.ethData_m;
    case StepKind::FcPayload: break;
    }
    const int* words = request.payloadWords;
    ownSteps_.push_back(std::make_unique<TraceFcPayload>(words[0], words[1], words[2]));
    return ownSteps_.back().get();
}

void TraceSetup::addFilters(TraceApi& api, const std::vector<FilterRequest>& filters)
{
    for (const FilterRequest& request : filters) {
        switch (request.kind) {
        case FilterKind::FcPreset: api.captureFcFrame(); continue;
        case FilterKind::EthPreset: api.captureEthFrame(); continue;
        case FilterKind::ElsPreset: api.captureELS(); continue;
        case FilterKind::Custom: break;
        }
        auto* filter = new TraceFrameFilter();   // the API takes ownership
        filter->rule = request.rule;
        filter->bufferId = request.bufferId;
        for (const StepRequest& step : request.steps)
            filter->addStep(stepFor(api, step));
        api.addFrameFilter(filter);
    }
}

}  // namespace replay
