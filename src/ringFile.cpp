// Rings kept in files: traceKeepRingsIn, and the buffers that live in a
// shared mapping of their ring file.
//
// A kept buffer is an ordinary TraceBuffer object placed in the mapping, its
// records right after it, so recording (TraceBuffer::getFreeEntry, inline)
// writes records and position into the file with the very same code as for
// a buffer in memory. The process-wide list below remembers which buffers
// these are, for their destruction.
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "recoveryHooks.h"
#include "ringFormat.h"
#include "ringKeeper.h"
#include "safeFiles.h"
#include "traceApi.h"
#include "traceRecovery.h"

namespace {
const size_t kObjectAlignment = 16;
const size_t kRecordsAlignment = 64;

struct KeptRing {
    TraceBuffer* buffer;   // placed at the start of the mapping's object area
    void* base;
    size_t size;
    char* path;            // owned
    KeptRing* next;
};

KeptRing* keptRings = nullptr;
RingKeeper keeper = {nullptr, nullptr, nullptr, 0, 0, 0, 0};

size_t alignUp(size_t value, size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

bool readUrandom(uint64_t* value)
{
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool complete = read(fd, value, sizeof *value) == static_cast<ssize_t>(sizeof *value);
    close(fd);
    return complete;
}

uint64_t drawRunId()
{
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value))
        return value;
    if (readUrandom(&value))
        return value;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<uint64_t>(now.tv_sec) << 32 ^ static_cast<uint64_t>(now.tv_nsec)) ^
           static_cast<uint64_t>(getpid());
}

// "<directory>/trace-<pid>-<id>.ring", owned by the caller.
char* ringPath(int bufferId)
{
    const char* format = "%s/trace-%d-%d%s";
    int length =
        snprintf(nullptr, 0, format, keeper.directory, keeper.pid, bufferId, kRingSuffix);
    char* path = new char[length + 1];
    snprintf(path, length + 1, format, keeper.directory, keeper.pid, bufferId, kRingSuffix);
    return path;
}

void fillHeader(RingFileHeader* header, TraceBuffer* buffer, size_t bufferOffset,
                size_t recordsOffset, size_t nameLength)
{
    memcpy(header->magic, kRingMagic, sizeof header->magic);
    header->byteOrder = kByteOrderMark;
    header->version = kRingFormatVersion;
    header->wordSize = static_cast<uint8_t>(sizeof(void*));
    header->recordSize = static_cast<uint8_t>(sizeof(TraceEntry));
    header->pid = static_cast<uint32_t>(keeper.pid);
    header->bufferId = buffer->bufferId;
    header->numEntries = static_cast<uint32_t>(buffer->numEntries);
    header->sequence = keeper.sequence++;
    header->bufferOffset = static_cast<uint32_t>(bufferOffset);
    header->nextIndexOffset = static_cast<uint32_t>(offsetof(TraceBuffer, nextIndex));
    header->wrappedOffset = static_cast<uint32_t>(offsetof(TraceBuffer, wrapped));
    header->recordsOffset = static_cast<uint32_t>(recordsOffset);
    header->nameLength = static_cast<uint32_t>(nameLength);
    header->runId[0] = static_cast<uint32_t>(keeper.runId >> 32);
    header->runId[1] = static_cast<uint32_t>(keeper.runId);
    header->reserved = 0;
}

}

// A ring file under construction: a new file under a temporary name, its
// mapping and the buffer in it. Whatever has not been handed over when it
// is destroyed (a failure, or an exception on the way) is undone: nothing
// is left on disk, open or mapped. (Outside the anonymous namespace: the
// buffer's constructor for records it does not own is for this class.)
class TRACELIB_INTERNAL NewRingFile {
public:
    NewRingFile() : ring_m(nullptr), tempPath_m(nullptr), fd_m(-1), buffer_m(nullptr) {}
    ~NewRingFile();

    // The complete file under its final name, or null (errno set).
    TraceBuffer* make(int id, char* name, int numEntries);

private:
    bool place(int id, char* name, int numEntries);

    KeptRing* ring_m;
    char* tempPath_m;
    int fd_m;
    TraceBuffer* buffer_m;
};

NewRingFile::~NewRingFile()
{
    int error = errno;
    if (buffer_m != nullptr) {
        buffer_m->entries = nullptr;
        buffer_m->~TraceBuffer();
    }
    if (ring_m != nullptr && ring_m->base != nullptr)
        munmap(ring_m->base, ring_m->size);
    if (fd_m >= 0)
        close(fd_m);
    if (tempPath_m != nullptr)
        unlink(tempPath_m);
    delete[] tempPath_m;
    if (ring_m != nullptr)
        delete[] ring_m->path;
    delete ring_m;
    errno = error;
}

TraceBuffer* NewRingFile::make(int id, char* name, int numEntries)
{
    ring_m = new KeptRing();
    ring_m->path = ringPath(id);
    fd_m = createFileBeside(ring_m->path, &tempPath_m);
    if (fd_m < 0 || !place(id, name, numEntries))
        return nullptr;
    if (rename(tempPath_m, ring_m->path) != 0)
        return nullptr;
    delete[] tempPath_m;
    tempPath_m = nullptr;
    close(fd_m);
    fd_m = -1;
    ring_m->buffer = buffer_m;
    ring_m->next = keptRings;
    keptRings = ring_m;
    ring_m = nullptr;
    TraceBuffer* made = buffer_m;
    buffer_m = nullptr;
    return made;
}

// Builds the buffer inside a new mapping of the file, on the file's own
// records; false (errno set) if it cannot.
bool NewRingFile::place(int id, char* name, int numEntries)
{
    const size_t bufferOffset = alignUp(sizeof(RingFileHeader), kObjectAlignment);
    const size_t recordsOffset = alignUp(bufferOffset + sizeof(TraceBuffer), kRecordsAlignment);
    const unsigned long long recordBytes =
        static_cast<unsigned long long>(numEntries) * sizeof(TraceEntry);
    if (recordBytes > (static_cast<size_t>(-1) - recordsOffset)) {
        errno = EFBIG;
        return false;
    }
    const size_t size = recordsOffset + static_cast<size_t>(recordBytes);
    // Space reserved now: a full file system later would otherwise fault
    // recording with SIGBUS when it first writes a page.
    int error = posix_fallocate(fd_m, 0, static_cast<off_t>(size));
    if (error != 0) {
        errno = error;
        return false;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_m, 0);
    if (base == MAP_FAILED)
        return false;
    ring_m->base = base;
    ring_m->size = size;
    char* at = static_cast<char*>(base);
    // The file's zero bytes are the cleared records.
    TraceEntry* records = reinterpret_cast<TraceEntry*>(at + recordsOffset);
    buffer_m = ::new (at + bufferOffset) TraceBuffer(id, name, numEntries, records);

    size_t nameLength = strlen(buffer_m->bufferName);
    off_t nameAt = static_cast<off_t>(size);
    if (ftruncate(fd_m, nameAt + static_cast<off_t>(nameLength)) != 0 ||
        pwrite(fd_m, buffer_m->bufferName, nameLength, nameAt) != static_cast<ssize_t>(nameLength))
        return false;
    fillHeader(reinterpret_cast<RingFileHeader*>(at), buffer_m, bufferOffset, recordsOffset,
               nameLength);
    return true;
}

uint64_t processRunId()
{
    static uint64_t runId = 0;
    static pid_t drawnBy = 0;
    if (drawnBy != getpid()) {
        runId = drawRunId();
        drawnBy = getpid();
    }
    return runId;
}

int traceKeepRingsIn(TraceApi* api, const char* directory)
{
    if (api == nullptr || directory == nullptr)
        return EINVAL;
    if (keeper.api != nullptr)
        return EBUSY;
    int error = checkFileDirectory(directory);
    if (error != 0)
        return error;
    size_t length = strlen(directory) + 1;
    char* copy = new (std::nothrow) char[length];
    if (copy == nullptr)
        return ENOMEM;
    memcpy(copy, directory, length);
    keeper.directory = copy;
    keeper.pid = getpid();
    keeper.stepPath = nullptr;
    try {
        keeper.stepPath = newStepPath(keeper);
    } catch (const std::bad_alloc&) {
        delete[] keeper.directory;
        keeper.directory = nullptr;
        return ENOMEM;
    }
    keeper.identifierId = api->identifier_m->stepId_m;
    keeper.sequence = 0;
    keeper.runId = processRunId();
    keeper.api = api;
    writeStepFile(keeper);
    return 0;
}

TraceBuffer* newTraceBuffer(TraceApi* api, int id, char* name, int numEntries)
{
    if (keeper.api == nullptr || keeper.api != api)
        return new TraceBuffer(id, name, numEntries);
    NewRingFile file;
    TraceBuffer* buffer = file.make(id, name, numEntries);
    if (buffer == nullptr)
        return new TraceBuffer(id, name, numEntries);
    writeStepFile(keeper);
    return buffer;
}

bool isKeptRing(TraceBuffer* buffer)
{
    for (KeptRing* ring = keptRings; ring != nullptr; ring = ring->next)
        if (ring->buffer == buffer)
            return true;
    return false;
}

bool releaseKeptRing(void* object)
{
    for (KeptRing** link = &keptRings; *link != nullptr; link = &(*link)->next) {
        KeptRing* ring = *link;
        if (ring->buffer != object)
            continue;
        *link = ring->next;
        munmap(ring->base, ring->size);
        unlink(ring->path);
        delete[] ring->path;
        delete ring;
        return true;
    }
    return false;
}

void filtersChanged(TraceApi* api)
{
    if (keeper.api != nullptr && keeper.api == api)
        writeStepFile(keeper);
}

void stepsChanged()
{
    if (keeper.api != nullptr)
        writeStepFile(keeper);
}

void forgetTraceApi(TraceApi* api)
{
    forgetFatalSave(api);
    if (keeper.api == nullptr || keeper.api != api)
        return;
    removeStepFile(keeper);
    keeper.api = nullptr;
    delete[] keeper.directory;
    keeper.directory = nullptr;
    delete[] keeper.stepPath;
    keeper.stepPath = nullptr;
}
