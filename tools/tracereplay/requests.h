// Buffers and filters as the command line describes them, the text helpers
// that parse them, and TraceSetup, which hands them to the trace library:
// buffers created with initTraceBuffer, presets and filters added in
// command-line order (so the last one given is tried first).
#ifndef TOOLS_TRACEREPLAY_REQUESTS_H
#define TOOLS_TRACEREPLAY_REQUESTS_H

#include <stdint.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hostFrame.h"
#include "traceApi.h"

namespace replay {

// Thrown for anything on the command line that cannot be used.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::string> splitText(const std::string& text, char separator);

// "a=1,b,c=x" -> {a,1} {b,""} {c,x}; throws UsageError on an empty key.
std::vector<std::pair<std::string, std::string>> parseKeyValues(const std::string& text);

// Decimal, or hexadecimal with 0x; throws UsageError naming `what` otherwise
// or when the value is outside [0, max].
uint32_t parseNumber(const std::string& text, uint32_t max, const std::string& what);

// Hexadecimal with or without 0x, at most `max`.
uint32_t parseHex(const std::string& text, uint32_t max, const std::string& what);

constexpr uint32_t kMaxBufferEntries = 1u << 24;

struct BufferRequest {
    int id = 1;
    std::string name;     // empty: the library's "Trace Buffer <id>"
    int entries = 65536;  // a power of two
    bool current = false;
};

enum class CaptureStep { FcHeader, Els, EthMacs, EthData, FcPayload };

struct StepRequest {
    CaptureStep kind = CaptureStep::FcHeader;
    int payloadWords[3] = {-1, -1, -1};  // FcPayload: word indexes, -1 unused
};

enum class FilterKind { FcPreset, EthPreset, ElsPreset, Custom };

struct FilterRequest {
    FilterKind kind = FilterKind::Custom;
    int bufferId = 0;  // 0: the current buffer
    RegisterFrameEntry rule{};
    std::vector<StepRequest> steps;
};

// "id=2,name=ELS,entries=1024,current"
BufferRequest parseBufferRequest(const std::string& text);

// "buffer=2,match=els,steps=fchdr+els" (--help lists every key).
FilterRequest parseFilterRequest(const std::string& text);

// "fchdr+els+pld:0:1"
std::vector<StepRequest> parseSteps(const std::string& text);

// Owns the steps the tool creates itself (payload steps); keep it alive
// for as long as the TraceApi it set up.
class TraceSetup {
public:
    void addBuffers(TraceApi& api, const std::vector<BufferRequest>& buffers);
    void addFilters(TraceApi& api, const std::vector<FilterRequest>& filters);

private:
    TraceStep* stepFor(TraceApi& api, const StepRequest& request);

    std::vector<std::unique_ptr<TraceStep>> ownSteps_;
};

}  // namespace replay

#endif
