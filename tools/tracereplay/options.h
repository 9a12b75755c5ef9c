// The command line of tracereplay, parsed into plain settings.
#ifndef TOOLS_TRACEREPLAY_OPTIONS_H
#define TOOLS_TRACEREPLAY_OPTIONS_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "hostFrame.h"
#include "capture.h"
#include "frameReplay.h"
#include "requests.h"

namespace replay {

struct Options {
    std::vector<InputFile> inputs;
    std::vector<BufferRequest> buffers;  // at least one after parsing
    std::vector<FilterRequest> filters;  // in the order given; at least one
    LocalAddresses local;
    std::string outputPath;                  // empty: standard output
    std::string dumpPath;                    // empty: no debug dump
    size_t sortMemory = kDefaultSortMemory;  // for files sorted whole
    std::optional<std::string> readFilter;   // a tcpdump filter expression
    unsigned long frameCount = 0;            // stop after this many frames; 0: no limit
    bool syslog = false;
    bool syslogNonBlocking = false;  // with syslog: the library's non-blocking socket
    bool wallClock = false;
    bool localTime = false;  // trace times in the local time zone, not UTC
    bool quiet = false;      // no progress or summary line
    bool help = false;
    bool version = false;
};

// The --help text.
void printUsage(std::FILE* stream);

Options parseOptions(const std::vector<std::string>& args);

// "file.pcap", "file.pcap@3" or "file.pcap@2.7"; without @ the port is
// left to the order of the files. A text that names an existing file is that
// file, even with an '@' in it.
InputFile parseInputFile(const std::string& text);

// "65536", "512K", "64M", "2G" (powers of 1024), at least 1M.
size_t parseMemorySize(const std::string& text);

}  // namespace replay

#endif
