#include "recoveredSteps.h"

#include <stdio.h>

#include <algorithm>

#include "recovery.h"
#include "ringFormat.h"

namespace {

char* ownedText(const std::string& text)
{
    if (text.empty())
        return nullptr;
    char* copy = new char[text.size() + 1];
    text.copy(copy, text.size());
    copy[text.size()] = '\0';
    return copy;
}

std::string textOf(const char* text)
{
    return text != nullptr ? text : "";
}

}  // namespace

void RawWordsStep::format(TraceEntry* entry, char* text, int size)
{
    snprintf(text, size_t(std::max(size, 0)), "%8.8x %8.8x %8.8x", entry->word1, entry->word2,
             entry->word3);
}

void MissingStep::format(TraceEntry* entry, char* text, int size)
{
    snprintf(text, size_t(std::max(size, 0)), "NULL trace step id %u", entry->word3);
}

void CutStep::cut(TraceStep* recorded)
{
    recorded_ = recorded;
    replaceTexts(this, textOf(recorded->prefix_m), textOf(recorded->postfix_m) + kCutMark);
}

void CutStep::format(TraceEntry* entry, char* text, int size)
{
    recorded_->format(entry, text, size);
}

std::unique_ptr<TraceStep> newRecoveredStep(uint8_t kind)
{
    switch (kind) {
        case kStepIdentifier:
            return std::make_unique<TraceIdentifier>();
        case kStepFcHeader:
            return std::make_unique<TraceFcHeader>();
        case kStepFcPayload:
            return std::make_unique<TraceFcPayload>(-1, -1, -1);
        case kStepEls:
            return std::make_unique<TraceEls>();
        case kStepEthDmacSmac:
            return std::make_unique<TraceEthDmacSmac>();
        case kStepEthData:
            return std::make_unique<TraceEthData>();
        case kStepDeviceEvent:
            return std::make_unique<TraceDeviceEvent>();
        default:
            return std::make_unique<RawWordsStep>();
    }
}

void describeLike(TraceStep* step, const StepInfo& info)
{
    for (int w = 0; w < 3; w++)
        step->payload_m[w] = {info.valid[w], info.index[w]};
    replaceTexts(step, info.prefix, info.postfix);
}

void replaceTexts(TraceStep* step, const std::string& prefix, const std::string& postfix)
{
    delete[] step->prefix_m;
    delete[] step->postfix_m;
    step->prefix_m = ownedText(prefix);
    step->postfix_m = ownedText(postfix);
}
