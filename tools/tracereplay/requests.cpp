#include "requests.h"

#include <cerrno>
#include <cstdlib>

#include "rawFrame.h"

namespace replay {

namespace {

uint32_t parseWithBase(const std::string& text, int base, uint32_t max, const std::string& what)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        throw UsageError("bad " + what + " '" + text + "'");
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || end == text.c_str())
        throw UsageError("bad " + what + " '" + text + "'");
    if (value > max)
        throw UsageError(what + " '" + text + "' is too large (at most " + std::to_string(max) +
                         ")");
    return static_cast<uint32_t>(value);
}

}  // namespace

std::vector<std::string> splitText(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::vector<std::pair<std::string, std::string>> parseKeyValues(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& part : splitText(text, ',')) {
        size_t equals = part.find('=');
        std::string key = part.substr(0, equals);
        if (key.empty())
            throw UsageError("empty setting in '" + text + "'");
        pairs.emplace_back(key, equals == std::string::npos ? "" : part.substr(equals + 1));
    }
    return pairs;
}

uint32_t parseNumber(const std::string& text, uint32_t max, const std::string& what)
{
    bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    return hex ? parseWithBase(text.substr(2), 16, max, what) : parseWithBase(text, 10, max, what);
}

uint32_t parseHex(const std::string& text, uint32_t max, const std::string& what)
{
    bool prefixed = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    return parseWithBase(prefixed ? text.substr(2) : text, 16, max, what);
}

namespace {

constexpr uint32_t kMaxBufferId = 0x7FFFFFFF;

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
            uint32_t entries = parseNumber(value, kMaxBufferEntries, "number of entries");
            if (!TraceBuffer::isRingSize(entries))
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

namespace {

constexpr uint32_t kMaxPayloadWord = 2559;  // a record holds at most 10240 frame bytes

StepRequest parsePayloadStep(const std::string& text)
{
    std::vector<std::string> parts = splitText(text, ':');
    if (parts.size() < 2 || parts.size() > 4)
        throw UsageError("step '" + text + "' needs one to three word numbers (pld:0:1:2)");
    StepRequest step{CaptureStep::FcPayload, {-1, -1, -1}};
    for (size_t i = 1; i < parts.size(); ++i)
        step.payloadWords[i - 1] =
            static_cast<int>(parseNumber(parts[i], kMaxPayloadWord, "payload word"));
    return step;
}

}  // namespace

std::vector<StepRequest> parseSteps(const std::string& text)
{
    std::vector<StepRequest> steps;
    for (const std::string& name : splitText(text, '+')) {
        if (name == "fchdr")
            steps.push_back({CaptureStep::FcHeader, {}});
        else if (name == "els")
            steps.push_back({CaptureStep::Els, {}});
        else if (name == "ethmac")
            steps.push_back({CaptureStep::EthMacs, {}});
        else if (name == "ethdata")
            steps.push_back({CaptureStep::EthData, {}});
        else if (name.rfind("pld:", 0) == 0)
            steps.push_back(parsePayloadStep(name));
        else
            throw UsageError("unknown step '" + name + "' (fchdr, els, ethmac, ethdata, pld:N)");
    }
    return steps;
}

namespace {

constexpr uint32_t kFcWord1 = TraceFrameFilter::kFirstWireWord + 1;  // CS_CTL | S_ID
constexpr uint32_t kFcWord2 = TraceFrameFilter::kFirstWireWord + 2;  // TYPE | F_CTL
constexpr uint32_t kAnyRejectReason = 0x100;

// Adds a field test; tests of one word share a field.
void addField(RegisterFrameEntry& rule, uint32_t offset, uint32_t mask, uint32_t value)
{
    RegisterFieldMatch* fields[] = {&rule.field_1, &rule.field_2, &rule.field_3};
    for (RegisterFieldMatch* field : fields) {
        if (field->mask == 0 || field->offset == offset) {
            field->offset = offset;
            field->mask |= mask;
            field->value = (field->value & ~mask) | (value & mask);
            return;
        }
    }
    throw UsageError("a filter can test at most three frame words");
}

void requireKind(RegisterFrameEntry& rule, uint32_t kind, const std::string& key)
{
    if (rule.offset_from == TraceFrameFilter::kAnyFrame)
        rule.offset_from = kind;
    else if (rule.offset_from != kind)
        throw UsageError("'" + key + "' does not fit the frames this filter matches");
}

// Default steps for what the filter matches.
std::vector<StepRequest> defaultSteps(const std::string& match)
{
    if (match == "els")
        return {{CaptureStep::FcHeader, {}}, {CaptureStep::Els, {}}};
    if (match == "eth")
        return {{CaptureStep::EthMacs, {}}, {CaptureStep::EthData, {}}};
    if (match == "any")
        throw UsageError("match=any needs steps=");
    return {{CaptureStep::FcHeader, {}}};
}

void applyMatch(RegisterFrameEntry& rule, const std::string& match)
{
    if (match == "any")
        rule.offset_from = TraceFrameFilter::kAnyFrame;
    else if (match == "fc")
        rule.offset_from = TraceFrameFilter::kFcFrames;
    else if (match == "eth")
        rule.offset_from = TraceFrameFilter::kEthernetFrames;
    else if (match == "els") {
        rule.offset_from = TraceFrameFilter::kFcFrames;
        addField(rule, TraceFrameFilter::kFirstWireWord, TraceFrameFilter::kElsRoutingMask,
                 TraceFrameFilter::kElsRoutingValue);
    } else if (match == "fcp") {
        rule.offset_from = TraceFrameFilter::kFcFrames;
        addField(rule, kFcWord2, 0xFF000000, 0x08000000);
    } else if (match == "rjt") {
        rule.offset_from = TraceFrameFilter::kFcFrames;
        rule.only_rejects = 1;
    } else {
        throw UsageError("unknown match '" + match + "' (any, fc, eth, els, fcp, rjt)");
    }
}

void applyField(RegisterFrameEntry& rule, const std::string& key, const std::string& value)
{
    if (key == "rctl") {
        requireKind(rule, TraceFrameFilter::kFcFrames, key);
        addField(rule, TraceFrameFilter::kFirstWireWord, 0xFF000000,
                 parseHex(value, 0xFF, "R_CTL") << 24);
    } else if (key == "did") {
        requireKind(rule, TraceFrameFilter::kFcFrames, key);
        addField(rule, TraceFrameFilter::kFirstWireWord, 0x00FFFFFF,
                 parseHex(value, 0xFFFFFF, "D_ID"));
    } else if (key == "sid") {
        requireKind(rule, TraceFrameFilter::kFcFrames, key);
        addField(rule, kFcWord1, 0x00FFFFFF, parseHex(value, 0xFFFFFF, "S_ID"));
    } else if (key == "type") {
        requireKind(rule, TraceFrameFilter::kFcFrames, key);
        addField(rule, kFcWord2, 0xFF000000, parseHex(value, 0xFF, "TYPE") << 24);
    } else if (key == "ethertype") {
        requireKind(rule, TraceFrameFilter::kEthernetFrames, key);
        addField(rule, HOSTSIM_D_ETHERTYPE, 0xFFFF, parseHex(value, 0xFFFF, "EtherType"));
    } else if (key == "reason") {
        if (!rule.only_rejects)
            throw UsageError("reason= needs match=rjt");
        rule.exact_reject = kAnyRejectReason | parseHex(value, 0xFF, "reject reason");
    } else {
        throw UsageError("unknown filter setting '" + key + "'");
    }
}

}  // namespace

FilterRequest parseFilterRequest(const std::string& text)
{
    FilterRequest request;
    std::string match = "any";
    std::string steps;
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& [key, value] : parseKeyValues(text)) {
        if (key == "buffer")
            request.bufferId = static_cast<int>(parseNumber(value, 0x7FFFFFFF, "buffer id"));
        else if (key == "match")
            match = value;
        else if (key == "steps")
            steps = value;
        else
            fields.emplace_back(key, value);
    }
    applyMatch(request.rule, match);
    for (const auto& [key, value] : fields)
        applyField(request.rule, key, value);
    request.steps = steps.empty() ? defaultSteps(match) : parseSteps(steps);
    return request;
}

void TraceSetup::addBuffers(TraceApi& api, const std::vector<BufferRequest>& buffers)
{
    for (const BufferRequest& buffer : buffers) {
        std::string name = buffer.name;  // the library copies the name
        api.initTraceBuffer(buffer.id, name.empty() ? nullptr : name.data(), buffer.entries,
                            buffer.current);
    }
}

TraceStep* TraceSetup::stepFor(TraceApi& api, const StepRequest& request)
{
    switch (request.kind) {
        case CaptureStep::FcHeader:
            return api.fcHeader_m;
        case CaptureStep::Els:
            return api.els_m;
        case CaptureStep::EthMacs:
            return api.ethDmacSmac_m;
        case CaptureStep::EthData:
            return api.ethData_m;
        case CaptureStep::FcPayload:
            break;
    }
    const int* words = request.payloadWords;
    ownSteps_.push_back(std::make_unique<TraceFcPayload>(words[0], words[1], words[2]));
    return ownSteps_.back().get();
}

void TraceSetup::addFilters(TraceApi& api, const std::vector<FilterRequest>& filters)
{
    for (const FilterRequest& request : filters) {
        switch (request.kind) {
            case FilterKind::FcPreset:
                api.captureFcFrame();
                continue;
            case FilterKind::EthPreset:
                api.captureEthFrame();
                continue;
            case FilterKind::ElsPreset:
                api.captureELS();
                continue;
            case FilterKind::Custom:
                break;
        }
        auto* filter = new TraceFrameFilter();  // the API takes ownership
        filter->rule = request.rule;
        filter->bufferId = request.bufferId;
        for (const StepRequest& step : request.steps)
            filter->addStep(stepFor(api, step));
        api.addFrameFilter(filter);
    }
}

}  // namespace replay
