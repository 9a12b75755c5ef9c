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

#include "liveRing.h"
#include "localSteps.h"
#include "ringFormat.h"
#include "traceApi.h"

namespace {

// Gives back the slots at the newest end of the ring that were handed out
// but never written (step id 0): they hold nothing of a trace. Returns the
// number of slots still handed out.
int dropUnwritten(RingImage& ring)
{
    const int n = int(ring.records.size());
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
    const int cut = cutSlot(ring, dropUnwritten(ring));
    for (size_t i = 0; i < ring.records.size(); i++) {
        TraceEntry entry = steps.localEntry(ring.records[i], ring.otherByteOrder);
        if (int(i) == cut) {
            entry.id = steps.cut(TraceStep::getStep(entry.id))->stepId_m;
            entry.flags |= TRACE_ENTRY_END;
        }
        buffer->entries[i] = entry;
    }
    buffer->nextIndex = ring.nextIndex;
    buffer->wrapped = ring.wrapped;
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
    RecoveredProcess process = recoverRun(table ? &*table : nullptr, std::move(ofRun));
    process.pid = pid;
    out.processes.push_back(std::move(process));
}

}  // namespace

RecoveredProcess recoverRun(const StepTable* table, std::vector<RingImage> rings)
{
    RecoveredProcess out;
    TraceApi api;
    LocalSteps steps(api, table);
    std::sort(rings.begin(), rings.end(),
              [](const RingImage& a, const RingImage& b) { return a.sequence < b.sequence; });
    for (RingImage& ring : rings) {
        api.initTraceBuffer(ring.bufferId, ring.name.data(), int(ring.records.size()), false);
        out.cutTraces += fill(bufferWithId(api, ring.bufferId), ring, steps) ? 1 : 0;
    }
    // The filter section: this API has none, so its first line is the count
    // line with 0, followed by the dead process's filters.
    std::string text = savedText(api);
    size_t firstLine = text.find('\n') + 1;
    if (firstLine == 0)
        return out;  // no file could be written
    out.text = std::to_string(table ? table->filterCount : 0) + text.substr(1, firstLine - 1) +
               (table ? table->filterText : "") + text.substr(firstLine);
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
