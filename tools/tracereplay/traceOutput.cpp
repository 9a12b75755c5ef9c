#include "traceOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace replay {

namespace {

// The library reports open errors only to the system log; trying the path
// first gives the user a proper message.
bool canWrite(const std::string& path, Diagnostics& diagnostics)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        diagnostics.fileError(path, std::string("cannot write: ") + std::strerror(errno));
        return false;
    }
    std::fclose(file);
    return true;
}

bool copyToStdout(const std::string& path, Diagnostics& diagnostics)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        diagnostics.error("saved trace vanished: " + std::string(std::strerror(errno)));
        return false;
    }
    char block[65536];
    size_t got;
    bool ok = true;
    while (ok && (got = std::fread(block, 1, sizeof block, file)) > 0)
        ok = std::fwrite(block, 1, got, stdout) == got;
    std::fclose(file);
    if (std::fflush(stdout) != 0 || !ok) {
        diagnostics.error("cannot write to standard output: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

std::string temporaryDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// saveTrace wants a path: the trace goes to a private temporary file first.
bool saveToStdout(TraceApi& api, Diagnostics& diagnostics)
{
    std::string pattern = temporaryDirectory() + "/tracereplay-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    int fd = mkstemp(path.data());
    if (fd < 0) {
        diagnostics.error("cannot create a temporary file in " + temporaryDirectory() + ": " +
                          std::strerror(errno));
        return false;
    }
    close(fd);
    api.saveTrace(path.data());
    bool ok = copyToStdout(path.data(), diagnostics);
    unlink(path.data());
    return ok;
}

}  // namespace

bool writeSavedTrace(TraceApi& api, const std::string& path, Diagnostics& diagnostics)
{
    if (path.empty() || path == "-")
        return saveToStdout(api, diagnostics);
    if (!canWrite(path, diagnostics))
        return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    api.saveTrace(name.data());
    return true;
}

bool writeDebugDump(TraceApi& api, const std::string& path, Diagnostics& diagnostics)
{
    if (!canWrite(path, diagnostics))
        return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    api.debugDump(name.data());
    return true;
}

}  // namespace replay
