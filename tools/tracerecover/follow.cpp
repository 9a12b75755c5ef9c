#include "follow.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "ringFormat.h"

namespace {

constexpr int64_t kRescanUs = 1000 * 1000;  // directories looked at even without a notice
constexpr int64_t kLiveCheckUs = 50 * 1000;
constexpr int64_t kMinPauseUs = 100;
constexpr int64_t kMaxPauseUs = 5 * 1000;
constexpr int kLooksPerLap = 8;
constexpr uint64_t kCopyChunk = 16;
constexpr uint64_t kTracesBetweenReads = 64;
constexpr int64_t kMinQuietUs = 1;
constexpr int64_t kMaxQuietUs = 2000;

int64_t nowUs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The time an opening record holds, as the saved file orders traces.
int64_t openingTime(const TraceEntry& entry)
{
    return int64_t(int32_t(entry.word1)) * 1000000 + int32_t(entry.word2);
}

bool sameRecord(const TraceEntry& a, const TraceEntry& b)
{
    return a.id == b.id && a.flags == b.flags && a.word1 == b.word1 && a.word2 == b.word2 &&
           a.word3 == b.word3;
}

bool isRingName(const std::string& name)
{
    const std::string suffix = kRingSuffix;
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Through std::filesystem: on 32-bit targets the C library's readdir can
// stop at an entry whose 64-bit directory offset it cannot return.
std::vector<std::string> ringFilesOf(const std::string& dir)
{
    std::vector<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator entry(dir, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        if (isRingName(entry->path().filename().string()))
            files.push_back(entry->path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Alive and not a zombie waiting for its parent.
bool running(uint32_t pid)
{
    if (kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;  // no /proc: kill's answer stands
    const size_t name = line.rfind(')');
    const char state = name != std::string::npos && name + 2 < line.size() ? line[name + 2] : 'R';
    return state != 'Z' && state != 'X';
}

}  // namespace

Follower::Follower(FILE* out, FILE* notes) : out_(out), notes_(notes) {}

Follower::~Follower()
{
    if (watch_ >= 0)
        close(watch_);
}

bool Follower::start(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            dirs_.push_back(path);
        else
            files_.push_back(path);
    }
    if (!dirs_.empty()) {
        watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (const std::string& dir : dirs_)
            if (watch_ >= 0)
                inotify_add_watch(watch_, dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE);
    }
    api_ = std::make_unique<TraceApi>();
    steps_ = std::make_unique<FollowSteps>(*api_, nullptr);
    findRings(true);
    if (!refused_ && !chosen_ && dirs_.empty())
        fprintf(notes_, "tracerecover: no running process keeps these rings\n");
    return !refused_ && (chosen_ || !dirs_.empty());
}

// The rings of the watched paths. Until a process is chosen, the one that is
// running is; later, only rings of that process and run are taken, and a
// followed ring whose file is gone or replaced was destroyed.
void Follower::findRings(bool atStart)
{
    lastScanUs_ = nowUs();
    std::vector<std::string> paths = files_;
    for (const std::string& dir : dirs_)
        for (std::string& file : ringFilesOf(dir))
            paths.push_back(std::move(file));
    for (Ring& ring : rings_) {
        struct stat info;
        if (stat(ring.file->info().path.c_str(), &info) != 0 ||
            uint64_t(info.st_ino) != ring.file->inode() ||
            uint64_t(info.st_dev) != ring.file->device())
            ring.removed = true;
    }
    std::map<uint32_t, std::vector<std::unique_ptr<LiveRing>>> found;
    for (const std::string& path : paths) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0)
            continue;
        auto same = [&](const Ring& r) {
            return r.file->inode() == uint64_t(info.st_ino) &&
                   r.file->device() == uint64_t(info.st_dev);
        };
        if (std::any_of(rings_.begin(), rings_.end(), same) ||
            ignored_.count({uint64_t(info.st_dev), uint64_t(info.st_ino)}) != 0)
            continue;
        std::string error;
        std::unique_ptr<LiveRing> file = LiveRing::open(path, error);
        if (file == nullptr) {
            if (atStart)
                fprintf(notes_, "tracerecover: %s: %s\n", path.c_str(), error.c_str());
            continue;
        }
        if (chosen_ && (file->info().pid != pid_ || file->info().runId != runId_)) {
            ignored_.insert({uint64_t(info.st_dev), uint64_t(info.st_ino)});
            continue;
        }
        found[file->info().pid].push_back(std::move(file));
    }
    if (!chosen_) {
        std::vector<uint32_t> live;
        for (auto& [pid, files] : found)
            if (running(pid))
                live.push_back(pid);
        if (live.size() > 1) {
            fprintf(notes_,
                    "tracerecover: several running processes keep rings here (%u, %u%s): "
                    "name the ring files of one\n",
                    live[0], live[1], live.size() > 2 ? ", ..." : "");
            refused_ = true;
            return;
        }
        if (live.empty())
            return;
        pid_ = live[0];
        chosen_ = true;
        std::vector<std::unique_ptr<LiveRing>>& files = found[pid_];
        stepPath_ = stepFileFor(files.front()->info().path, pid_);
        std::string error;
        std::optional<StepTable> table = readStepFile(stepPath_, error);
        runId_ = table && table->pid == pid_ ? table->runId : files.front()->info().runId;
        for (auto& file : found[pid_])
            if (file->info().runId == runId_)
                addRing(std::move(file), true);
        readSteps();
        return;
    }
    for (auto& file : found[pid_])
        addRing(std::move(file), atStart);
}

void Follower::addRing(std::unique_ptr<LiveRing> file, bool atStart)
{
    Ring ring;
    const uint64_t n = file->entries();
    ring.index = file->position();
    const bool wrapped = file->wrapped();
    ring.written = wrapped ? n + ring.index : ring.index;
    ring.next = wrapped ? ring.written - n : 0;
    ring.lastReadUs = ring.lastLookUs = nowUs();
    ring.file = std::move(file);
    if (!atStart)
        fprintf(notes_, "tracerecover: buffer %d (%s) made\n", ring.file->info().bufferId,
                ring.file->info().name.c_str());
    auto later = [&](const Ring& r) {
        return r.file->info().sequence > ring.file->info().sequence;
    };
    rings_.insert(std::find_if(rings_.begin(), rings_.end(), later), std::move(ring));
}

// The step file is replaced whole (a new file, then a rename), so a change of
// its inode or time means a new description of the steps.
void Follower::readSteps()
{
    struct stat info;
    if (stat(stepPath_.c_str(), &info) != 0)
        return;
    if (uint64_t(info.st_ino) == stepInode_ && info.st_mtim.tv_sec == stepStamp_.tv_sec &&
        info.st_mtim.tv_nsec == stepStamp_.tv_nsec)
        return;
    stepInode_ = uint64_t(info.st_ino);
    stepStamp_ = info.st_mtim;
    std::string error;
    std::optional<StepTable> table = readStepFile(stepPath_, error);
    if (table && (table->pid != pid_ || table->runId != runId_))
        error = "of another process or run";
    else if (table)
        steps_->describe(*table);
    if (!error.empty())
        fprintf(notes_, "tracerecover: %s: %s; records printed as raw words\n", stepPath_.c_str(),
                error.c_str());
}

void Follower::poll()
{
    if (ended_)
        return;
    const int64_t now = nowUs();
    if (!chosen_) {
        findRings(true);
        pauseUs_ = kMaxPauseUs;
        if (!chosen_)
            return;
    }
    bool alive = true;
    if (now - lastLiveCheckUs_ >= kLiveCheckUs) {
        alive = running(pid_);
        lastLiveCheckUs_ = now;
    }
    bool noticed = false;
    char events[4096];
    while (watch_ >= 0 && read(watch_, events, sizeof events) > 0)
        noticed = true;
    if (!alive || noticed || now - lastScanUs_ >= kRescanUs)
        findRings(false);
    readSteps();
    look(!alive);
    if (!alive) {
        fflush(out_);
        fprintf(notes_, "tracerecover: process %u ended\n", pid_);
        ended_ = true;
    }
}

void Follower::flushComplete()
{
    if (chosen_ && !ended_)
        look(false);
}

void Follower::look(bool final)
{
    const int64_t now = nowUs();
    uint64_t moved = 0;
    // Every position before any copy: a trace that opened before this is in
    // the copies of its ring, and any trace of another ring not yet copied
    // began after it.
    for (Ring& ring : rings_) {
        const uint64_t before = ring.written;
        // Where stores may become visible out of order, only records handed
        // out before the last look are read, so only traces that opened
        // then can be known to come first.
        ring.settled = ring.looked ? ring.written : 0;
        ring.looked = true;
        if (!advance(ring))
            ring.lapUnseen = true;
        ring.eligibleBelow = kStoresInProgramOrder ? ring.written : ring.settled;
        moved = std::max(moved, (ring.written - before) * 1000000 / ring.file->entries());
        // The writer's pace: what it wrote since the last look, or a slow
        // decay of the fastest pace seen.
        const double pace =
            double(ring.written - before) / double(std::max<int64_t>(now - ring.lastLookUs, 1));
        ring.pace = std::max(pace, ring.pace * 0.8);
        ring.lastLookUs = now;
    }
    for (Ring& ring : rings_)
        copy(ring, final || ring.removed);
    print(final);
    auto drained = [](const Ring& r) { return r.removed && r.traces.empty(); };
    rings_.erase(std::remove_if(rings_.begin(), rings_.end(), drained), rings_.end());
    notePace(moved, now);
}

// Laps per million of the busiest ring since the last look set the next
// pause: kLooksPerLap looks a lap.
void Follower::notePace(uint64_t lapsPerMillion, int64_t now)
{
    const int64_t elapsed = std::max<int64_t>(now - lastLookUs_, 1);
    lastLookUs_ = now;
    if (lapsPerMillion == 0) {
        pauseUs_ = std::min(std::max(pauseUs_ * 2, kMinPauseUs), kMaxPauseUs);
        return;
    }
    const int64_t lapUs = elapsed * 1000000 / int64_t(lapsPerMillion);
    pauseUs_ = std::clamp(lapUs / kLooksPerLap, kMinPauseUs, kMaxPauseUs);
}

// Moves the ring's count of handed-out records to the slot position just
// read. A lap between two reads leaves the position where it was; it is
// noticed by the record kept as sentinel having been replaced (read before
// the position, so a writer moving on in between cannot fake it), or may
// have gone by unseen when the reads were further apart than a fraction of
// a lap at the writer's pace (the follower was not running): false then.
bool Follower::advance(Ring& ring)
{
    const int64_t now = nowUs();
    const double lapUs = ring.pace > 0 ? double(ring.file->entries()) / ring.pace : 1e9;
    const int64_t quietUs = std::clamp(int64_t(lapUs / 4), kMinQuietUs, kMaxQuietUs);
    const bool tracked = now - ring.lastReadUs <= quietUs;
    ring.lastReadUs = now;
    const uint32_t n = ring.file->entries();
    std::optional<TraceEntry> sentinelNow;
    if (ring.sentinel)
        sentinelNow = ring.file->record(uint32_t(ring.sentinelAt % n));
    const uint32_t index = ring.file->position();
    const uint64_t written = ring.written + (index + n - ring.index) % n;
    ring.index = index;
    ring.written = written;
    if (sentinelNow && written < ring.sentinelAt + n && !sameRecord(*sentinelNow, *ring.sentinel)) {
        ring.written += n;
        ring.sentinel.reset();
        ring.lapUnseen = true;
    }
    return tracked;
}

// Copies the ring's records from the next one to read up to the writer's
// position, then reads the position again: records the writer reused in the
// meantime are dropped and counted lost.
void Follower::copy(Ring& ring, bool final)
{
    if (ring.drained)
        return;  // a destroyed buffer is read to its end once
    const uint64_t n = ring.file->entries();
    if (!advance(ring))
        ring.lapUnseen = true;
    const uint64_t written = ring.written;
    const uint64_t limit =
        final || kStoresInProgramOrder ? written : std::min(written, ring.settled);
    // The slot the writer hands out next holds record written - n; it may be
    // being cleared, so it is read only if it reads the same twice.
    const uint64_t reused = written >= n ? written - n : 0;
    uint64_t from = std::max(ring.next, reused);
    std::vector<TraceEntry> records;
    if (!final && written >= n && from == reused && from < limit) {
        std::optional<TraceEntry> oldest = ring.file->stableRecord(uint32_t(from % n), ring.index);
        if (oldest)
            records.push_back(*oldest);
        else
            from++;
    }
    // The position is read again every kCopyChunk records, so that the count
    // of handed-out records stays exact; a copy the follower was stopped in
    // for longer than that allows is given up, and done again next look.
    // A record that reads differently twice is being written: the copy ends
    // before it.
    for (uint64_t at = from + records.size(); at < limit; at++) {
        const TraceEntry entry = ring.file->record(uint32_t(at % n));
        if (!final && !sameRecord(entry, ring.file->record(uint32_t(at % n))))
            break;
        records.push_back(entry);
        if (!final && (at - from) % kCopyChunk == kCopyChunk - 1 && !advance(ring))
            return;
    }
    if (!final) {
        if (!advance(ring))
            return;
        // Unless the writer stayed put (the reused slot was checked then),
        // it may have reused the slot at its position.
        const uint64_t whole = ring.written == written ? reused
                               : ring.written >= n     ? ring.written - n + 1
                                                       : 0;
        const uint64_t overwritten =
            std::min<uint64_t>(whole > from ? whole - from : 0, records.size());
        records.erase(records.begin(), records.begin() + ptrdiff_t(overwritten));
        from += overwritten;
    }
    if (from > ring.next) {
        lose(ring, from - ring.next, ring.lapUnseen);
        ring.inSync = false;
        if (!ring.traces.empty() && !ring.traces.back().complete)
            ring.traces.pop_back();
    }
    ring.lapUnseen = false;
    take(ring, from, records, written, final);
    ring.drained = ring.removed;
}

// Adds copied records, from absolute index `from`, to the ring's traces;
// `written` is the writer's count when they were copied. The unfinished
// trace kept from the last look was copied again whole.
void Follower::take(Ring& ring, uint64_t from, const std::vector<TraceEntry>& records,
                    uint64_t written, bool final)
{
    int64_t openSince = nowUs();
    if (!ring.traces.empty() && !ring.traces.back().complete) {
        if (ring.traces.back().first == from)
            openSince = ring.traces.back().openSince;
        ring.traces.pop_back();
    }
    uint64_t end = from + records.size();
    for (size_t i = 0; i < records.size(); i++) {
        const TraceEntry& entry = records[i];
        const uint64_t at = from + i;
        // The newest slot, handed out but not filled yet (or never, if the
        // process died there): nothing of a trace. While the writer runs, a
        // record without its step id is not taken at all: it may be a slot
        // being handed out again, in a lap the position did not show.
        if (entry.id == 0 && (at + 1 >= written || !final)) {
            end = at;
            break;
        }
        const bool open = !ring.traces.empty() && !ring.traces.back().complete;
        if (entry.flags & TRACE_ENTRY_BEGIN) {
            if (open)
                ring.traces.back().complete = true;
            Trace trace;
            trace.first = at;
            trace.time = openingTime(entry);
            trace.timeKnown = true;
            ring.traces.push_back(std::move(trace));
            ring.inSync = true;
        } else if (!ring.inSync) {
            continue;  // the rest of a trace whose opening record was lost
        } else if (!open) {
            // Added after its trace's end mark: the saved file prints it
            // after that trace, so it keeps that trace's time.
            Trace stray;
            stray.first = at;
            stray.time = ring.lastTime;
            stray.timeKnown = true;
            ring.traces.push_back(std::move(stray));
        }
        Trace& trace = ring.traces.back();
        trace.records.push_back(entry);
        trace.complete = (entry.flags & TRACE_ENTRY_END) != 0;
        ring.lastTime = trace.time;
        if (at + 1 < written) {  // no longer changed by the writer
            ring.sentinel = entry;
            ring.sentinelAt = at;
        }
    }
    ring.next = end;
    if (!ring.traces.empty() && !ring.traces.back().complete) {
        Trace& open = ring.traces.back();
        if (final) {
            open.complete = true;
            open.cut = true;
        } else {
            open.openSince = open.first == from ? openSince : nowUs();
            ring.next = open.first;
        }
    }
}

void Follower::lose(Ring& ring, uint64_t count, bool atLeast)
{
    fflush(out_);
    fprintf(notes_, "tracerecover: buffer %d (%s): %s%llu record%s lost\n",
            ring.file->info().bufferId, ring.file->info().name.c_str(), atLeast ? "at least " : "",
            static_cast<unsigned long long>(count), count == 1 ? "" : "s");
    lostTotal_ += count;
    lostAtLeast_ = lostAtLeast_ || atLeast;
}

// Prints traces by the time they began, ties to the buffer made first, as
// long as the earliest one is complete and no ring can still add an earlier
// one.
void Follower::print(bool final)
{
    const int64_t now = nowUs();
    uint64_t printed = 0;
    for (;;) {
        Ring* best = nullptr;
        for (Ring& ring : rings_) {
            if (ring.traces.empty())
                continue;
            const Trace& trace = ring.traces.front();
            if (!trace.complete && now - trace.openSince > kHoldLimitUs)
                continue;
            if (best == nullptr || trace.time < best->traces.front().time)
                best = &ring;
        }
        if (best == nullptr)
            return;
        const Trace& trace = best->traces.front();
        if (!trace.complete)
            return;
        if (!final && !best->removed && trace.first >= best->eligibleBelow)
            return;
        write(*best, trace);
        best->traces.pop_front();
        // Printing takes long: the rings' positions are followed meanwhile,
        // so that a lap during it is counted.
        if (++printed % kTracesBetweenReads == 0)
            for (Ring& ring : rings_)
                if (!advance(ring))
                    ring.lapUnseen = true;
    }
}

void Follower::write(const Ring& ring, const Trace& trace)
{
    fprintf(out_, "%d: ", ring.file->info().bufferId);
    for (size_t i = 0; i < trace.records.size(); i++) {
        TraceEntry entry = steps_->localEntry(trace.records[i], ring.file->info().otherByteOrder);
        if (trace.cut && i + 1 == trace.records.size()) {
            entry.id = steps_->cut(TraceStep::getStep(entry.id))->stepId_m;
            entry.flags |= TRACE_ENTRY_END;
        }
        TraceStep::getStep(entry.id)->write(&entry, out_);
        if (!(entry.flags & TRACE_ENTRY_END))
            fputc(' ', out_);
    }
}
