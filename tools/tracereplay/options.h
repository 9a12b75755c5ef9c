// The command line of tracereplay, parsed into plain settings.
#ifndef TOOLS_TRACEREPLAY_OPTIONS_H
#define TOOLS_TRACEREPLAY_OPTIONS_H

#include <cstdio>
#include <string>
#include <vector>

#include "hostFrame.h"
#include "frameReplay.h"
#include "requests.h"

namespace replay {

struct InputFile {
    std::string path;
    port_id_t port{0, 0, 0};
};

struct Options {
    std::vector<InputFile> inputs;
    std::vector<BufferRequest> buffers;  // at least one after parsing
    std::vector<FilterRequest> filters;  // in the order given; at least one
    LocalAddresses local;
    std::string outputPath;  // empty: standard output
    std::string dumpPath;    // empty: no debug dump
    bool syslog = false;
    bool wallClock = false;
    bool quiet = false;  // no progress line
    bool help = false;
};

// The --help text.
void printUsage(std::FILE* stream);

Options parseOptions(const std::vector<std::string>& args);

// "file.pcap", "file.pcap@3" or "file.pcap@2.7"; index is the default port.
InputFile parseInputFile(const std::string& text, unsigned index);

}  // namespace replay

#endif
