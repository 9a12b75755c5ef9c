// Directory checks and unpredictable temporary names for the files the
// library creates.
#include "safeFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ringFormat.h"

namespace {
const char kUniqueSuffix[] = ".XXXXXX";
}

namespace {
bool ownedByUs(const struct stat& info)
{
    return info.st_uid == geteuid() || info.st_uid == 0;
}
}

int checkFileDirectory(const char* directory)
{
    // A symlink someone else made (say in /dev/shm, before us) could lead
    // anywhere, a directory of root's included.
    struct stat info;
    if (lstat(directory, &info) != 0)
        return errno;
    if (S_ISLNK(info.st_mode) && !ownedByUs(info))
        return EPERM;
    if (stat(directory, &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!ownedByUs(info) || (othersWrite && !(info.st_mode & S_ISVTX)))
        return EPERM;
    if (access(directory, W_OK | X_OK) != 0)
        return errno;
    return 0;
}

int checkDirectoryOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    if (slash == nullptr)
        return checkFileDirectory(".");
    if (slash == path)
        return checkFileDirectory("/");
    size_t length = static_cast<size_t>(slash - path);
    char* directory = new char[length + 1];
    memcpy(directory, path, length);
    directory[length] = '\0';
    int error = checkFileDirectory(directory);
    delete[] directory;
    return error;
}

int createFileBeside(const char* finalPath, char** tempPath)
{
    size_t length = strlen(finalPath);
    char* path = new char[length + sizeof kNewFileSuffix + sizeof kUniqueSuffix];
    memcpy(path, finalPath, length);
    memcpy(path + length, kNewFileSuffix, sizeof kNewFileSuffix);
    strcat(path, kUniqueSuffix);
    // O_EXCL, and no symlink followed: the name is new, the file ours.
    int fd = mkostemp(path, O_CLOEXEC);
    if (fd < 0 || fchmod(fd, 0644) != 0) {
        int error = errno;
        if (fd >= 0) {
            close(fd);
            unlink(path);
        }
        delete[] path;
        *tempPath = nullptr;
        errno = error;
        return -1;
    }
    *tempPath = path;
    return fd;
}
