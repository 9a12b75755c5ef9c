#include "recovery.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <new>

#include "liveRing.h"
#include "recoveredSteps.h"
#include "ringFormat.h"
#include "traceApi.h"
#include "traceRecovery.h"

namespace {

// A flag bit the library never sets: the opening record of a trace cut
// right after it.
const uint16_t kCutOpening = 0x8000;

// The trace API's identifier step in every recovery. The buffer summaries
// know identifier records by its id, so an opening record that is all a cut
// trace holds keeps this step, and its text gets the cut mark here.
class RecoveredIdentifier : public TraceIdentifier {
public:
    void format(TraceEntry* entry, char* text, int size) override
    {
        TraceIdentifier::format(entry, text, size);
        const size_t used = strlen(text);
        if ((entry->flags & kCutOpening) != 0 && used < size_t(size))
            snprintf(text + used, size_t(size) - used, "%s", kCutMark);
    }
};

// The steps and the trace API of every recovery in this process. They are
// made once and lent out again: the step registry never gives an id back, so
// steps made anew for each recovery would run out of ids after some dozens
// of processes. Never destroyed, as the registry's storage goes at exit.
class Workshop {
public:
    static Workshop& get()
    {
        static Workshop* workshop = new Workshop();
        return *workshop;
    }

    Workshop() : builtIdentifier_(api.identifier_m) { api.identifier_m = &identifier_; }

    TraceApi api;

    TraceStep* take(uint8_t kind)
    {
        auto& [steps, used] = byKind_[kind];
        if (used == steps.size())
            steps.push_back(newRecoveredStep(kind));
        return steps[used++].get();
    }
    TraceStep* takeCut(TraceStep* recorded)
    {
        if (cutsUsed_ == cuts_.size())
            cuts_.push_back(std::make_unique<CutStep>());
        cuts_[cutsUsed_]->cut(recorded);
        return cuts_[cutsUsed_++].get();
    }
    RawWordsStep raw;
    MissingStep missing;

    // Back to no buffers, every step free to be lent again.
    void clear()
    {
        api.traceBuffers_m.purge_list(true);
        api.currentBuffer_m = nullptr;
        replaceTexts(api.identifier_m, "", "");
        for (auto& entry : byKind_)
            entry.second.second = 0;
        cutsUsed_ = 0;
    }

private:
    std::map<uint8_t, std::pair<std::vector<std::unique_ptr<TraceStep>>, size_t>> byKind_;
    std::vector<std::unique_ptr<CutStep>> cuts_;
    size_t cutsUsed_ = 0;
    RecoveredIdentifier identifier_;
    TraceIdentifier* builtIdentifier_;  // the API's own, kept but unused
};

// The dead process's steps, made again in this one.
class LocalSteps {
public:
    LocalSteps(Workshop& workshop, const StepTable* table)
        : workshop_(workshop), limit_(table ? table->stepIdLimit : 0)
    {
        if (table == nullptr)
            return;
        for (const StepInfo& info : table->steps) {
            TraceStep* step = workshop.api.identifier_m;
            if (info.id != table->identifierId || info.kind != kStepIdentifier)
                step = workshop.take(info.kind);
            describeLike(step, info);
            byId_[info.id] = {step, info.kind};
        }
    }

    uint8_t kindOf(uint16_t id) const
    {
        auto found = byId_.find(id);
        return found != byId_.end() ? found->second.second : uint8_t(kStepHost);
    }
    // Null for a step the dead process had destroyed.
    TraceStep* stepFor(uint16_t id)
    {
        auto found = byId_.find(id);
        if (found != byId_.end())
            return found->second.first;
        return id != 0 && id < limit_ ? nullptr : &workshop_.raw;
    }
    TraceStep* missing() { return &workshop_.missing; }
    TraceStep* cut(TraceStep* recorded) { return workshop_.takeCut(recorded); }
    bool isIdentifier(TraceStep* step) const { return step == workshop_.api.identifier_m; }

private:
    Workshop& workshop_;
    uint32_t limit_;
    std::map<uint16_t, std::pair<TraceStep*, uint8_t>> byId_;
};

// Clears what holds nothing of a trace: the slots a ring that never wrapped
// has not handed out yet (the walk of an empty ring reads slot 0), and the
// slots at the newest end that were handed out but never written (step id
// 0), which it gives back. Returns the number of slots still handed out.
int clearUnwritten(RingImage& ring)
{
    const int n = int(ring.records.size());
    if (!ring.wrapped)
        std::fill(ring.records.begin() + ring.nextIndex, ring.records.end(), TraceEntry());
    int handed = ring.wrapped ? n : ring.nextIndex;
    while (handed > 0 && ring.records[size_t((ring.nextIndex + n - 1) % n)].id == 0) {
        ring.nextIndex = (ring.nextIndex + n - 1) % n;
        ring.records[size_t(ring.nextIndex)] = TraceEntry();
        handed--;
    }
    return handed;
}

// The slot of the newest record if the death cut its trace short (it has
// a trace, and lacks the end mark), else -1.
int cutSlot(const RingImage& ring, int handed)
{
    const int n = int(ring.records.size());
    const int newest = (ring.nextIndex + n - 1) % n;
    if (handed == 0 || (ring.records[size_t(newest)].flags & TRACE_ENTRY_END) != 0)
        return -1;
    for (int back = 0; back < handed; back++)
        if (ring.records[size_t((newest - back + n) % n)].flags & TRACE_ENTRY_BEGIN)
            return newest;
    return -1;
}

// Puts one ring of the dead process into `buffer`; true if its newest trace
// was cut short.
bool fill(TraceBuffer* buffer, RingImage& ring, LocalSteps& steps)
{
    const int cut = cutSlot(ring, clearUnwritten(ring));
    for (size_t i = 0; i < ring.records.size(); i++) {
        TraceEntry entry = ring.records[i];
        const uint8_t kind = steps.kindOf(entry.id);
        if (ring.otherByteOrder && kind == kStepEthDmacSmac) {
            // Addresses are stored as bytes, not words: as the writer left them.
            entry.word1 = __builtin_bswap32(entry.word1);
            entry.word2 = __builtin_bswap32(entry.word2);
            entry.word3 = __builtin_bswap32(entry.word3);
        }
        TraceStep* step = steps.stepFor(entry.id);
        if (step == nullptr) {
            step = steps.missing();
            entry.word3 = entry.id;
            entry.flags |= TRACE_ENTRY_END;
        }
        if (int(i) == cut) {
            entry.flags |= TRACE_ENTRY_END;
            if (steps.isIdentifier(step) && step->postfix_m == nullptr)
                entry.flags |= kCutOpening;
            else
                step = steps.cut(step);
        }
        entry.id = step->stepId_m;
        ring.records[i] = entry;
    }
    buffer->restore(ring.records.data(), ring.nextIndex, ring.wrapped);
    return cut >= 0;
}

// Not findBuffer: there id 0 means the current buffer.
TraceBuffer* bufferWithId(TraceApi& api, int id)
{
    for (Element<TraceBuffer>* e = api.traceBuffers_m.get_first(); e != nullptr; e = e->get_next())
        if (e->item()->bufferId == id)
            return e->item();
    return nullptr;
}

// The saved trace of the API's buffers under the dead process's filter
// section (none without its step file); empty if it could not be written.
std::string savedText(TraceApi& api, const StepTable* table)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    if (stream == nullptr)
        return "";
    const std::string filters = table ? table->filterText : "";
    const int error = traceWriteSavedTrace(&api, stream, table ? table->filterCount : 0,
                                           filters.data(), filters.size());
    std::string text = fclose(stream) == 0 && error == 0 ? std::string(data, size) : "";
    free(data);
    return text;
}

std::vector<std::string> ringFilesIn(const std::string& path, Recovery& out)
{
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return {path};
    std::vector<std::string> files;
    std::filesystem::directory_iterator entry(path, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        if (entry->path().extension() == kRingSuffix)
            files.push_back(entry->path().string());
    if (error)
        out.errors.push_back(path + ": " + error.message());
    std::sort(files.begin(), files.end());
    return files;
}

uint64_t runOfNewestRing(const std::vector<RingImage>& rings)
{
    auto older = [](const RingImage& a, const RingImage& b) { return a.modified < b.modified; };
    return std::max_element(rings.begin(), rings.end(), older)->runId;
}

// The step file of these rings of one pid, checked to be of their process
// and of one of their runs; the error says why it is not.
std::optional<StepTable> stepTableFor(const std::vector<RingImage>& rings, uint32_t pid,
                                      std::string& error)
{
    std::optional<StepTable> table = readStepFile(stepFileFor(rings.front().path, pid), error);
    if (table && table->pid != pid) {
        error = "written by process " + std::to_string(table->pid);
        return std::nullopt;
    }
    auto ofRun = [&](const RingImage& ring) { return ring.runId == table->runId; };
    if (table && std::none_of(rings.begin(), rings.end(), ofRun)) {
        error = "of another run than the ring files";
        return std::nullopt;
    }
    return table;
}

void recoverProcess(uint32_t pid, std::vector<RingImage>& rings, Recovery& out)
{
    std::string error;
    std::optional<StepTable> table = stepTableFor(rings, pid, error);
    if (!table)
        out.errors.push_back(stepFileFor(rings.front().path, pid) + ": " + error +
                             "; records printed as raw words");
    const uint64_t run = table ? table->runId : runOfNewestRing(rings);
    std::vector<RingImage> ofRun;
    for (RingImage& ring : rings) {
        if (ring.runId == run)
            ofRun.push_back(std::move(ring));
        else
            out.errors.push_back(ring.path + ": of another run of process " + std::to_string(pid) +
                                 "; left out");
    }
    try {
        RecoveredProcess process = recoverRun(table ? &*table : nullptr, std::move(ofRun));
        process.pid = pid;
        out.processes.push_back(std::move(process));
    } catch (const std::bad_alloc&) {
        out.errors.push_back("process " + std::to_string(pid) + ": out of memory; not recovered");
    }
}

}  // namespace

RecoveredProcess recoverRun(const StepTable* table, std::vector<RingImage> rings)
{
    RecoveredProcess out;
    Workshop& workshop = Workshop::get();
    workshop.clear();
    TraceApi& api = workshop.api;
    LocalSteps steps(workshop, table);
    std::sort(rings.begin(), rings.end(),
              [](const RingImage& a, const RingImage& b) { return a.sequence < b.sequence; });
    for (RingImage& ring : rings) {
        api.initTraceBuffer(ring.bufferId, ring.name.data(), int(ring.records.size()), false);
        out.cutTraces += fill(bufferWithId(api, ring.bufferId), ring, steps) ? 1 : 0;
    }
    out.text = savedText(api, table);
    workshop.clear();
    return out;
}

Recovery recoverRings(const std::vector<std::string>& paths)
{
    Recovery out;
    std::vector<std::string> files;
    for (const std::string& path : paths)
        for (std::string& file : ringFilesIn(path, out))
            files.push_back(std::move(file));
    // A process still running gives a snapshot: its rings as at one instant.
    std::map<uint32_t, std::vector<RingImage>> byProcess;
    for (RingImage& ring : readRingsAtOneInstant(files, out.errors))
        byProcess[ring.pid].push_back(std::move(ring));
    for (auto& [pid, rings] : byProcess)
        recoverProcess(pid, rings, out);
    return out;
}
