#include "followSteps.h"

#include "recoveredSteps.h"
#include "ringFormat.h"

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
                step = owned_.emplace_back(newRecoveredStep(info.kind)).get();
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
    if (step == nullptr) {
        auto made = std::make_unique<CutStep>();
        made->cut(recorded);
        step = owned_.emplace_back(std::move(made)).get();
    }
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
