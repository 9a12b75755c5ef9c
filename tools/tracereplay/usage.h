#ifndef TOOLS_TRACEREPLAY_USAGE_H
#define TOOLS_TRACEREPLAY_USAGE_H

#include <cstdio>

namespace replay {

// The --help text.
void printUsage(std::FILE* stream);

}  // namespace replay

#endif
