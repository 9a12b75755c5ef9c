// The traffic of the bundled samples: a host logging in to a fabric and
// reading from a target, seen on the host's port and on the target's port,
// and an Ethernet port with IP traffic and FCoE.
#ifndef TOOLS_SAMPLEGEN_SCENARIO_H
#define TOOLS_SAMPLEGEN_SCENARIO_H

#include <stdint.h>

#include <string>
#include <vector>

#include "frames.h"

namespace samplegen {

struct TimedFrame {
    int64_t micros;  // capture time, microseconds since the epoch
    Bytes bytes;
};

struct SampleFile {
    std::string name;
    int linkType;
    std::vector<TimedFrame> frames;
};

std::vector<SampleFile> sampleFiles();

}  // namespace samplegen

#endif
