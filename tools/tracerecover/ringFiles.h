// Reading the files a process left behind when it kept its rings
// (traceRecovery.h): ring files and the step file beside them, checked
// field by field. A file that fails a check yields a one-line reason.
#ifndef TRACELIB_TOOLS_TRACERECOVER_RINGFILES_H
#define TRACELIB_TOOLS_TRACERECOVER_RINGFILES_H

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "traceBuffer.h"

struct RingImage {
    std::string path;
    uint32_t pid = 0;
    int bufferId = 0;
    uint32_t sequence = 0;
    std::string name;
    int nextIndex = 0;
    bool wrapped = false;
    std::vector<TraceEntry> records;
};

struct StepInfo {
    uint16_t id = 0;
    uint8_t kind = 0;
    bool valid[3] = {};
    int32_t index[3] = {};
    std::string prefix;
    std::string postfix;
};

struct StepTable {
    uint32_t identifierId = 0;
    uint32_t filterCount = 0;
    std::string filterText;
    std::vector<StepInfo> steps;
};

// Each returns nothing and sets `error` (the reason, without the path) when
// the file is not one it can use.
std::optional<RingImage> readRingFile(const std::string& path, std::string& error);
std::optional<StepTable> readStepFile(const std::string& path, std::string& error);

// "<directory of ringPath>/trace-<pid>.steps"
std::string stepFileFor(const std::string& ringPath, uint32_t pid);

#endif
