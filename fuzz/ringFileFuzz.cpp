// The reader of the files a dead process left (tools/tracerecover) on any
// bytes: a step file and up to four ring files, separated by kSeparator,
// parsed and recovered as one run. Whatever the bytes, a recovery with a
// ring in it ends its last line, counts at most one cut trace a ring and
// never prints a slot that was never written.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzzCheck.h"
#include "recovery.h"

namespace {
const std::string_view kSeparator = "\n--ring--\n";
const size_t kMaxRings = 4;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    for (size_t at; (at = input.find(kSeparator)) != std::string_view::npos;) {
        parts.push_back(input.substr(0, at));
        input.remove_prefix(at + kSeparator.size());
    }
    parts.push_back(input);

    std::string error;
    std::optional<StepTable> table = parseStepFile(parts[0], error);
    std::vector<RingImage> rings;
    for (size_t i = 1; i < parts.size() && rings.size() < kMaxRings; i++) {
        if (std::optional<RingImage> ring = parseRingFile(parts[i], error))
            rings.push_back(std::move(*ring));
        else
            FUZZ_CHECK(!error.empty());
    }
    if (rings.empty())
        return 0;
    const int ringCount = int(rings.size());
    RecoveredProcess recovered = recoverRun(table ? &*table : nullptr, std::move(rings));
    const std::string& text = recovered.text;
    FUZZ_CHECK(!text.empty() && text.back() == '\n');
    FUZZ_CHECK(recovered.cutTraces >= 0 && recovered.cutTraces <= ringCount);
    // Past the filters, which the step file holds as text of any kind.
    const size_t summaries = text.find('\n') + 1 + (table ? table->filterText.size() : 0);
    FUZZ_CHECK(text.find("NULL trace step id 0\n", summaries) == std::string::npos);
    return 0;
}
