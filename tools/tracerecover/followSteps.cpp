#include "followSteps.h"

#include <stdio.h>

#include <algorithm>
#include <string>

#include "recovery.h"
#include "ringFormat.h"

namespace {

// A step the host defined, or one the step file does not know: its words as
// they are.
class RawWordsStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override
    {
        snprintf(text, size_t(std::max(size, 0)), "%8.8x %8.8x %8.8x", entry->word1, entry->word2,
                 entry->word3);
    }
};

// Stands in for a step the process had destroyed. The saved file writes such
// a record as one line of its own; the record arrives here with the original
// id in word3 and the end mark set, so that TraceStep::write ends the line
// and the saver adds no blank.
class MissingStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override
    {
        snprintf(text, size_t(std::max(size, 0)), "NULL trace step id %u", entry->word3);
    }
};

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

// The last record written of a trace cut short: its own step's text, then
// the cut mark; the record carries the end mark, so the line ends.
class CutStep : public TraceStep {
public:
    explicit CutStep(TraceStep* recorded) : recorded_(recorded)
    {
        prefix_m = ownedText(textOf(recorded->prefix_m));
        postfix_m = ownedText(textOf(recorded->postfix_m) + kCutMark);
    }
    void format(TraceEntry* entry, char* text, int size) override
    {
        recorded_->format(entry, text, size);
    }

private:
    TraceStep* recorded_;
};

std::unique_ptr<TraceStep> newStep(const StepInfo& info)
{
    switch (info.kind) {
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
    delete[] step->prefix_m;
    delete[] step->postfix_m;
    step->prefix_m = ownedText(info.prefix);
    step->postfix_m = ownedText(info.postfix);
}

}  // namespace

FollowSteps::FollowSteps(TraceApi& api, const StepTable* table)
    : api_(api), raw_(std::make_unique<RawWordsStep>()), missing_(std::make_unique<MissingStep>())
{
    if (table != nullptr)
        describe(*table);
}

void FollowSteps::describe(const StepTable& table)
{
    limit_ = table.stepIdLimit;
    byId_.clear();
    for (const StepInfo& info : table.steps) {
        auto made = made_.find(info.id);
        if (made == made_.end() || made->second.second != info.kind) {
            TraceStep* step = api_.identifier_m;
            if (info.id != table.identifierId || info.kind != kStepIdentifier)
                step = owned_.emplace_back(newStep(info)).get();
            made = made_.insert_or_assign(info.id, std::make_pair(step, info.kind)).first;
        }
        describeLike(made->second.first, info);
        byId_[info.id] = made->second;
    }
}

uint8_t FollowSteps::kindOf(uint16_t id) const
{
    auto found = byId_.find(id);
    return found != byId_.end() ? found->second.second : uint8_t(kStepHost);
}

FollowSteps::~FollowSteps() = default;

TraceStep* FollowSteps::stepFor(uint16_t id)
{
    auto found = byId_.find(id);
    if (found != byId_.end())
        return found->second.first;
    return id != 0 && id < limit_ ? nullptr : raw_.get();
}

TraceStep* FollowSteps::cut(TraceStep* recorded)
{
    TraceStep*& step = cuts_[recorded];
    if (step == nullptr)
        step = owned_.emplace_back(std::make_unique<CutStep>(recorded)).get();
    return step;
}

TraceEntry FollowSteps::localEntry(TraceEntry entry, bool otherByteOrder)
{
    if (otherByteOrder && kindOf(entry.id) == kStepEthDmacSmac) {
        // Addresses are stored as bytes, not words: as the writer left them.
        entry.word1 = __builtin_bswap32(entry.word1);
        entry.word2 = __builtin_bswap32(entry.word2);
        entry.word3 = __builtin_bswap32(entry.word3);
    }
    TraceStep* step = stepFor(entry.id);
    if (step == nullptr) {
        step = missing();
        entry.word3 = entry.id;
        entry.flags |= TRACE_ENTRY_END;
    }
    entry.id = step->stepId_m;
    return entry;
}
