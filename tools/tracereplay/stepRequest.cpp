// steps=fchdr+els+ethmac+ethdata+pld:0:1:2
#include "options.h"
#include "optionText.h"
#include "traceRequests.h"

namespace replay {

namespace {

constexpr uint32_t kMaxPayloadWord = 2559;   // a record holds at most 10240 frame bytes

StepRequest parsePayloadStep(const std::string& text)
{
    std::vector<std::string> parts = splitText(text, ':');
    if (parts.size() < 2 || parts.size() > 4)
        throw UsageError("step '" + text + "' needs one to three word numbers (pld:0:1:2)");
    StepRequest step{StepKind::FcPayload, {-1, -1, -1}};
    for (size_t i = 1; i < parts.size(); ++i)
        step.payloadWords[i - 1] =
            static_cast<int>(parseNumber(parts[i], kMaxPayloadWord, "payload word"));
    return step;
}

}  // namespace

std::vector<StepRequest> parseSteps(const std::string& text)
{
    std::vector<StepRequest> steps;
    for (const std::string& name : splitText(text, '+')) {
        if (name == "fchdr")
            steps.push_back({StepKind::FcHeader, {}});
        else if (name == "els")
            steps.push_back({StepKind::Els, {}});
        else if (name == "ethmac")
            steps.push_back({StepKind::EthMacs, {}});
        else if (name == "ethdata")
            steps.push_back({StepKind::EthData, {}});
        else if (name.rfind("pld:", 0) == 0)
            steps.push_back(parsePayloadStep(name));
        else
            throw UsageError("unknown step '" + name + "' (fchdr, els, ethmac, ethdata, pld:N)");
    }
    return steps;
}

}  // namespace replay
