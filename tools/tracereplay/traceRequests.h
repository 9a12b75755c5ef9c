// Buffers and filters as the command line describes them, before they are
// handed to the trace library.
#ifndef TOOLS_TRACEREPLAY_TRACEREQUESTS_H
#define TOOLS_TRACEREPLAY_TRACEREQUESTS_H

#include <string>
#include <vector>

#include "hostFrame.h"

namespace replay {

struct BufferRequest {
    int id = 1;
    std::string name;           // empty: the library's "Trace Buffer <id>"
    int entries = 65536;        // a power of two
    bool current = false;
};

enum class StepKind { FcHeader, Els, EthMacs, EthData, FcPayload };

struct StepRequest {
    StepKind kind = StepKind::FcHeader;
    int payloadWords[3] = {-1, -1, -1};   // FcPayload: word indexes, -1 unused
};

enum class FilterKind { FcPreset, EthPreset, ElsPreset, Custom };

struct FilterRequest {
    FilterKind kind = FilterKind::Custom;
    int bufferId = 0;                     // 0: the current buffer
    RegisterFrameEntry rule{};
    std::vector<StepRequest> steps;
};

// "id=2,name=ELS,entries=1024,current"
BufferRequest parseBufferRequest(const std::string& text);

// "buffer=2,match=els,steps=fchdr+els" (see usage.cpp for every key).
FilterRequest parseFilterRequest(const std::string& text);

// "fchdr+els+pld:0:1"
std::vector<StepRequest> parseSteps(const std::string& text);

}  // namespace replay

#endif
