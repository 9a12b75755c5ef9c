// traceSaveFile and traceDumpFile: the output files through a stdio stream
// whose writes go to a descriptor and remember the first error, into a
// temporary file that is renamed over the target once it is complete.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "outputWriters.h"
#include "traceFiles.h"

namespace {
// The descriptor under the stream, and the errno of its first failure.
struct Sink {
    int fd;
    int error;
};

void noteError(Sink* sink, int error)
{
    if (sink->error == 0)
        sink->error = error != 0 ? error : EIO;
}

ssize_t sinkWrite(void* cookie, const char* data, size_t size)
{
    Sink* sink = static_cast<Sink*>(cookie);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(sink->fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            noteError(sink, n < 0 ? errno : ENOSPC);
            return 0;  // stdio's sign of a failed write
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

int sinkClose(void* cookie)
{
    Sink* sink = static_cast<Sink*>(cookie);
    if (close(sink->fd) != 0) {
        noteError(sink, errno);
        return -1;
    }
    return 0;
}

// Where the text goes: the file to replace (a link's target) and, unless
// that is written in place, the temporary name beside it.
struct Target {
    char path[PATH_MAX];
    char temporary[PATH_MAX + 32];
    bool inPlace;
    bool keepMode;
    mode_t mode;
};

int chooseTarget(const char* path, Target& target)
{
    struct stat status = {};
    if (strlen(path) >= sizeof target.path)
        return ENAMETOOLONG;
    strcpy(target.path, path);
    if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode) &&
        realpath(path, target.path) == nullptr)
        strcpy(target.path, path);  // a dangling link: the target is created through it
    const bool exists = stat(target.path, &status) == 0;
    target.inPlace = exists && !S_ISREG(status.st_mode);
    target.keepMode = exists && !target.inPlace;
    target.mode = status.st_mode & 07777;
    return 0;
}

int openTarget(Target& target)
{
    if (target.inPlace)
        return open(target.path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    static unsigned serial = 0;
    for (;;) {
        snprintf(target.temporary, sizeof target.temporary, "%s.partial-%ld-%u", target.path,
                 static_cast<long>(getpid()), serial++);
        int fd = open(target.temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
}

int writeChecked(TraceApi* api, const char* path, void (*writer)(TraceApi*, FILE*))
{
    if (api == nullptr || path == nullptr)
        return EINVAL;
    Target target;
    int error = chooseTarget(path, target);
    if (error != 0)
        return error;
    Sink sink = {openTarget(target), 0};
    if (sink.fd < 0)
        return errno;
    if (target.keepMode && fchmod(sink.fd, target.mode) != 0)
        noteError(&sink, errno);
    cookie_io_functions_t io = {nullptr, sinkWrite, nullptr, sinkClose};
    FILE* file = fopencookie(&sink, "w", io);
    if (file == nullptr) {
        noteError(&sink, errno);
        close(sink.fd);
    } else {
        writer(api, file);
        if (fclose(file) != 0)
            noteError(&sink, errno);
    }
    if (!target.inPlace && sink.error == 0 && rename(target.temporary, target.path) != 0)
        noteError(&sink, errno);
    if (!target.inPlace && sink.error != 0)
        unlink(target.temporary);
    return sink.error;
}
}

int traceSaveFile(TraceApi* api, const char* path)
{
    return writeChecked(api, path, writeSavedTrace);
}

int traceDumpFile(TraceApi* api, const char* path)
{
    return writeChecked(api, path, writeDebugDump);
}
