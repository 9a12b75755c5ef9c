// --filter buffer=2,match=els,rctl=22,steps=fchdr+els
#include <map>

#include "options.h"
#include "optionText.h"
#include "traceRequests.h"

namespace replay {

namespace {

constexpr uint32_t kMatchAny = 0;
constexpr uint32_t kMatchFc = 1;
constexpr uint32_t kMatchEthernet = 2;
constexpr uint32_t kFcWord0 = 25;       // R_CTL | D_ID
constexpr uint32_t kFcWord1 = 26;       // CS_CTL | S_ID
constexpr uint32_t kFcWord2 = 27;       // TYPE | F_CTL
constexpr uint32_t kEtherTypeWord = 13; // the host descriptor's EtherType
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
    if (rule.offset_from == kMatchAny)
        rule.offset_from = kind;
    else if (rule.offset_from != kind)
        throw UsageError("'" + key + "' does not fit the frames this filter matches");
}

// Default steps for what the filter matches.
std::vector<StepRequest> defaultSteps(const std::string& match)
{
    if (match == "els")
        return {{StepKind::FcHeader, {}}, {StepKind::Els, {}}};
    if (match == "eth")
        return {{StepKind::EthMacs, {}}, {StepKind::EthData, {}}};
    if (match == "any")
        throw UsageError("match=any needs steps=");
    return {{StepKind::FcHeader, {}}};
}

void applyMatch(RegisterFrameEntry& rule, const std::string& match)
{
    if (match == "any")
        rule.offset_from = kMatchAny;
    else if (match == "fc")
        rule.offset_from = kMatchFc;
    else if (match == "eth")
        rule.offset_from = kMatchEthernet;
    else if (match == "els") {
        rule.offset_from = kMatchFc;
        addField(rule, kFcWord0, 0xF0000000, 0x20000000);
    } else if (match == "fcp") {
        rule.offset_from = kMatchFc;
        addField(rule, kFcWord2, 0xFF000000, 0x08000000);
    } else if (match == "rjt") {
        rule.offset_from = kMatchFc;
        rule.only_rejects = 1;
    } else {
        throw UsageError("unknown match '" + match + "' (any, fc, eth, els, fcp, rjt)");
    }
}

void applyField(RegisterFrameEntry& rule, const std::string& key, const std::string& value)
{
    if (key == "rctl") {
        requireKind(rule, kMatchFc, key);
        addField(rule, kFcWord0, 0xFF000000, parseHex(value, 0xFF, "R_CTL") << 24);
    } else if (key == "did") {
        requireKind(rule, kMatchFc, key);
        addField(rule, kFcWord0, 0x00FFFFFF, parseHex(value, 0xFFFFFF, "D_ID"));
    } else if (key == "sid") {
        requireKind(rule, kMatchFc, key);
        addField(rule, kFcWord1, 0x00FFFFFF, parseHex(value, 0xFFFFFF, "S_ID"));
    } else if (key == "type") {
        requireKind(rule, kMatchFc, key);
        addField(rule, kFcWord2, 0xFF000000, parseHex(value, 0xFF, "TYPE") << 24);
    } else if (key == "ethertype") {
        requireKind(rule, kMatchEthernet, key);
        addField(rule, kEtherTypeWord, 0xFFFF, parseHex(value, 0xFFFF, "EtherType"));
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

}  // namespace replay
