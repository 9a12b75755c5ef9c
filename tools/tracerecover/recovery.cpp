#include "recovery.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "ringFiles.h"
#include "ringFormat.h"
#include "traceApi.h"

namespace {

// A step the host defined: its words as they are.
class RawWordsStep : public TraceStep {
public:
    void format(TraceEntry* entry, char* text, int size) override
    {
        snprintf(text, size_t(std::max(size, 0)), "%8.8x %8.8x %8.8x", entry->word1,
                 entry->word2, entry->word3);
    }
};

// Stands in for a step id that named no step in the dead process. The saved
// file writes such a record as one line of its own; the record arrives here
// with the original id in word3 and the end mark set, so that TraceStep::write
// ends the line and the saver adds no blank.
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

std::unique_ptr<TraceStep> newStep(const StepInfo& info)
{
    switch (info.kind) {
    case kStepIdentifier: return std::make_unique<TraceIdentifier>();
    case kStepFcHeader: return std::make_unique<TraceFcHeader>();
    case kStepFcPayload: return std::make_unique<TraceFcPayload>(-1, -1, -1);
    case kStepEls: return std::make_unique<TraceEls>();
    case kStepEthDmacSmac: return std::make_unique<TraceEthDmacSmac>();
    case kStepEthData: return std::make_unique<TraceEthData>();
    case kStepDeviceEvent: return std::make_unique<TraceDeviceEvent>();
    default: return std::make_unique<RawWordsStep>();
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

std::string savedText(TraceApi& api)
{
    std::string path = (getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp");
    path += "/tracerecover-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        return "";
    close(fd);
    api.saveTrace(path.data());
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    unlink(path.c_str());
    return text;
}

// The saved trace file of one process.
std::string rebuild(const StepTable& table, std::vector<RingImage>& rings)
{
    TraceApi api;
    std::vector<std::unique_ptr<TraceStep>> owned;
    std::map<uint16_t, uint16_t> localId;
    for (const StepInfo& info : table.steps) {
        TraceStep* step = api.identifier_m;
        if (info.id != table.identifierId || info.kind != kStepIdentifier)
            step = owned.emplace_back(newStep(info)).get();
        describeLike(step, info);
        localId[info.id] = step->stepId_m;
    }
    MissingStep missing;

    std::sort(rings.begin(), rings.end(),
              [](const RingImage& a, const RingImage& b) { return a.sequence < b.sequence; });
    for (RingImage& ring : rings) {
        int size = int(ring.records.size());
        api.initTraceBuffer(ring.bufferId, ring.name.data(), size, false);
        TraceBuffer* buffer = api.findBuffer(ring.bufferId);
        buffer->nextIndex = ring.nextIndex;
        buffer->wrapped = ring.wrapped;
        for (int i = 0; i < size; i++) {
            TraceEntry entry = ring.records[size_t(i)];
            auto found = localId.find(entry.id);
            if (found != localId.end()) {
                entry.id = found->second;
            } else {
                entry.word3 = entry.id;
                entry.id = missing.stepId_m;
                entry.flags |= TRACE_ENTRY_END;
            }
            buffer->entries[i] = entry;
        }
    }
    // The filter section: this API has none, so its first line is the count
    // line with 0, followed by the dead process's filters.
    std::string text = savedText(api);
    size_t firstLine = text.find('\n') + 1;
    return std::to_string(table.filterCount) + text.substr(1, firstLine - 1) + table.filterText +
           text.substr(firstLine);
}

std::vector<std::string> ringFilesIn(const std::string& path, Recovery& out)
{
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return {path};
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        if (entry.path().extension() == kRingSuffix)
            files.push_back(entry.path().string());
    if (error)
        out.errors.push_back(path + ": " + error.message());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

Recovery recoverRings(const std::vector<std::string>& paths)
{
    Recovery out;
    std::map<uint32_t, std::vector<RingImage>> byProcess;
    std::map<uint32_t, std::string> stepFiles;
    for (const std::string& path : paths) {
        for (const std::string& file : ringFilesIn(path, out)) {
            std::string error;
            if (std::optional<RingImage> ring = readRingFile(file, error)) {
                stepFiles.emplace(ring->pid, stepFileFor(file, ring->pid));
                byProcess[ring->pid].push_back(std::move(*ring));
            } else {
                out.errors.push_back(file + ": " + error);
            }
        }
    }
    for (auto& [pid, rings] : byProcess) {
        std::string error;
        std::optional<StepTable> table = readStepFile(stepFiles[pid], error);
        if (!table) {
            out.errors.push_back(stepFiles[pid] + ": " + error);
            continue;
        }
        out.processes.push_back({pid, rebuild(*table, rings)});
    }
    return out;
}
