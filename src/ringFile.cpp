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
RingKeeper keeper = {nullptr, nullptr, 0, 0, 0, 0};

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

// "<directory>/trace-<pid>-<id><suffix>", owned by the caller.
char* ringPath(int bufferId, const char* suffix)
{
    const char* format = "%s/trace-%d-%d%s%s";
    int length = snprintf(nullptr, 0, format, keeper.directory, keeper.pid, bufferId,
                          kRingSuffix, suffix);
    char* path = new char[length + 1];
    snprintf(path, length + 1, format, keeper.directory, keeper.pid, bufferId, kRingSuffix,
             suffix);
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

// Builds the buffer inside a new mapping of `fd`; null if it cannot.
TraceBuffer* placeBuffer(int fd, KeptRing& ring, int id, char* name, int numEntries)
{
    const size_t bufferOffset = alignUp(sizeof(RingFileHeader), kObjectAlignment);
    const size_t recordsOffset = alignUp(bufferOffset + sizeof(TraceBuffer), kRecordsAlignment);
    const unsigned long long recordBytes =
        static_cast<unsigned long long>(numEntries) * sizeof(TraceEntry);
    if (recordBytes > (static_cast<size_t>(-1) - recordsOffset)) {
        errno = EFBIG;
        return nullptr;
    }
    ring.size = recordsOffset + static_cast<size_t>(recordBytes);
    // Space reserved now: a full file system later would otherwise fault
    // recording with SIGBUS when it first writes a page.
    int error = posix_fallocate(fd, 0, static_cast<off_t>(ring.size));
    if (error != 0) {
        errno = error;
        return nullptr;
    }
    ring.base = mmap(nullptr, ring.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (ring.base == MAP_FAILED)
        return nullptr;
    char* base = static_cast<char*>(ring.base);
    // The constructor's own ring in memory gives way to the file's records,
    // which the file's zero bytes already clear.
    TraceBuffer* buffer = ::new (base + bufferOffset) TraceBuffer(id, name, numEntries);
    delete[] buffer->entries;
    buffer->entries = reinterpret_cast<TraceEntry*>(base + recordsOffset);

    size_t nameLength = strlen(buffer->bufferName);
    off_t nameAt = static_cast<off_t>(ring.size);
    if (ftruncate(fd, nameAt + static_cast<off_t>(nameLength)) != 0 ||
        pwrite(fd, buffer->bufferName, nameLength, nameAt) != static_cast<ssize_t>(nameLength)) {
        buffer->entries = nullptr;
        buffer->~TraceBuffer();
        munmap(ring.base, ring.size);
        return nullptr;
    }
    fillHeader(reinterpret_cast<RingFileHeader*>(base), buffer, bufferOffset, recordsOffset,
               nameLength);
    return buffer;
}

// A complete ring file under its final name, or null (errno set).
TraceBuffer* mapRingFile(int id, char* name, int numEntries)
{
    KeptRing* ring = new KeptRing();
    char* newPath = ringPath(id, kNewFileSuffix);
    ring->path = ringPath(id, "");
    int fd = open(newPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    TraceBuffer* buffer = fd < 0 ? nullptr : placeBuffer(fd, *ring, id, name, numEntries);
    if (fd >= 0)
        close(fd);
    if (buffer != nullptr && rename(newPath, ring->path) == 0) {
        ring->buffer = buffer;
        ring->next = keptRings;
        keptRings = ring;
        delete[] newPath;
        return buffer;
    }
    if (buffer != nullptr) {
        buffer->entries = nullptr;
        buffer->~TraceBuffer();
        munmap(ring->base, ring->size);
        buffer = nullptr;
    }
    unlink(newPath);
    delete[] newPath;
    delete[] ring->path;
    delete ring;
    return nullptr;
}
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
    struct stat info;
    if (stat(directory, &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    if (access(directory, W_OK | X_OK) != 0)
        return errno;
    size_t length = strlen(directory) + 1;
    keeper.directory = new char[length];
    memcpy(keeper.directory, directory, length);
    keeper.pid = getpid();
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
    TraceBuffer* buffer = mapRingFile(id, name, numEntries);
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
}
