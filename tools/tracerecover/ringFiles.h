// Reading the files a process left behind when it kept its rings
// (traceRecovery.h): ring files and the step file beside them, checked
// field by field. Files of either byte order and either word size are read
// on any machine; records come out in this machine's byte order. A file that
// fails a check yields a one-line reason.
#ifndef TRACELIB_TOOLS_TRACERECOVER_RINGFILES_H
#define TRACELIB_TOOLS_TRACERECOVER_RINGFILES_H

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "traceBuffer.h"

struct RingImage {
    std::string path;
    uint32_t pid = 0;
    uint64_t runId = 0;
    int bufferId = 0;
    uint32_t sequence = 0;
    std::string name;
    int nextIndex = 0;
    bool wrapped = false;
    bool otherByteOrder = false;  // written by a machine of the other byte order
    int64_t modified = 0;         // the file's modification time, in seconds
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
    uint32_t pid = 0;
    uint64_t runId = 0;
    uint32_t identifierId = 0;
    uint32_t stepIdLimit = 0;  // ids below it that no listed step has were destroyed
    uint32_t filterCount = 0;
    std::string filterText;
    std::vector<StepInfo> steps;
};

// The parsers, over a whole file's bytes. Each returns nothing and sets
// `error` (the reason, without the path) when the bytes are not a file it
// can use.
std::optional<RingImage> parseRingFile(std::string_view bytes, std::string& error);
std::optional<StepTable> parseStepFile(std::string_view bytes, std::string& error);

// The same, from a file. Only a regular file of the size its header states
// is read: a directory, FIFO, device or a file of another size is an error.
std::optional<RingImage> readRingFile(const std::string& path, std::string& error);
std::optional<StepTable> readStepFile(const std::string& path, std::string& error);

// "<directory of ringPath>/trace-<pid>.steps"
std::string stepFileFor(const std::string& ringPath, uint32_t pid);

#endif
