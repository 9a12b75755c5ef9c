// --buffer id=2,name=ELS,entries=1024,current
#include "options.h"
#include "optionText.h"
#include "traceRequests.h"

namespace replay {

namespace {

constexpr uint32_t kMaxBufferId = 0x7FFFFFFF;
constexpr uint32_t kMaxEntries = 1u << 24;

bool isPowerOfTwo(uint32_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

}  // namespace

BufferRequest parseBufferRequest(const std::string& text)
{
    BufferRequest request;
    bool haveId = false;
    for (const auto& [key, value] : parseKeyValues(text)) {
        if (key == "id") {
            request.id = static_cast<int>(parseNumber(value, kMaxBufferId, "buffer id"));
            if (request.id == 0)
                throw UsageError("buffer id 0 is reserved for the current buffer");
            haveId = true;
        } else if (key == "name") {
            request.name = value;
        } else if (key == "entries") {
            uint32_t entries = parseNumber(value, kMaxEntries, "number of entries");
            if (!isPowerOfTwo(entries))
                throw UsageError("number of entries '" + value + "' is not a power of two");
            request.entries = static_cast<int>(entries);
        } else if (key == "current" && value.empty()) {
            request.current = true;
        } else {
            throw UsageError("unknown buffer setting '" + key + "' in '" + text + "'");
        }
    }
    if (!haveId)
        throw UsageError("buffer '" + text + "' has no id=");
    return request;
}

}  // namespace replay
