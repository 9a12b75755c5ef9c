// --buffer id=2,name=ELS,entries=1024,current
#include "options.h"
#include "specText.h"
#include "traceSpecs.h"

namespace replay {

namespace {

constexpr uint32_t kMaxBufferId = 0x7FFFFFFF;
constexpr uint32_t kMaxEntries = 1u << 24;

bool isPowerOfTwo(uint32_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

}  // namespace

BufferSpec parseBufferSpec(const std::string& text)
{
    BufferSpec spec;
    bool haveId = false;
    for (const auto& [key, value] : parseKeyValues(text)) {
        if (key == "id") {
            spec.id = static_cast<int>(parseNumber(value, kMaxBufferId, "buffer id"));
            if (spec.id == 0)
                throw UsageError("buffer id 0 is reserved for the current buffer");
            haveId = true;
        } else if (key == "name") {
            spec.name = value;
        } else if (key == "entries") {
            uint32_t entries = parseNumber(value, kMaxEntries, "number of entries");
            if (!isPowerOfTwo(entries))
                throw UsageError("number of entries '" + value + "' is not a power of two");
            spec.entries = static_cast<int>(entries);
        } else if (key == "current" && value.empty()) {
            spec.current = true;
        } else {
            throw UsageError("unknown buffer setting '" + key + "' in '" + text + "'");
        }
    }
    if (!haveId)
        throw UsageError("buffer '" + text + "' has no id=");
    return spec;
}

}  // namespace replay
