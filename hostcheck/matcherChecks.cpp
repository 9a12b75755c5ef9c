// The host matcher against every rule word the host contract gives a
// meaning (host/hostFrame.h): offset_from, mask and value of the three
// fields, the range, rule offsets through the whole frame and past its end.
// The expected answer comes from the kit's own reading of the wire bytes;
// a failure says which comparison read which word, and what the host's
// matcher seems to read instead.
#include <stdio.h>

#include "checkKit.h"
#include "frameFilter.h"

namespace hostcheck {
namespace {

uint32_t ownKind(const WireFrame& wire)
{
    return wire.kind == Kind::fc ? TraceFrameFilter::kFcFrames : TraceFrameFilter::kEthernetFrames;
}

uint32_t viewWords(const WireFrame& wire)
{
    return uint32_t((wire.bytes.size() + 3) / 4);
}

bool kindMatches(uint32_t offsetFrom, const WireFrame& wire)
{
    return offsetFrom == TraceFrameFilter::kAnyFrame || offsetFrom == ownKind(wire);
}

std::string wordText(const WireFrame& wire, uint32_t offset)
{
    size_t first = 4 * size_t(offset - TraceFrameFilter::kFirstWireWord);
    size_t held = wire.bytes.size() - first < 4 ? wire.bytes.size() - first : 4;
    uint32_t word = 0;
    viewWord(wire, offset, &word);
    std::string bytes =
        held == 1 ? "frame byte " + std::to_string(first)
                  : "frame bytes " + std::to_string(first) + "-" + std::to_string(first + held - 1);
    size_t etherType = wire.kind == Kind::ethernet ? ethPayloadOffset(wire) - 2 : 0;
    if (etherType != 0 && first <= etherType && etherType < first + 4)
        bytes += ", the EtherType at byte " + std::to_string(etherType);
    if (held < 4)
        bytes +=
            held == 3 ? " and 1 zero byte" : " and " + std::to_string(4 - held) + " zero bytes";
    return "word " + std::to_string(offset) + " (" + bytes + ", " + hex(word) + ")";
}

// One comparison: passes, and why.
struct Part {
    bool pass;
    std::string why;  // empty for a comparison the rule leaves all zero
};

Part fieldPart(const char* name, const RegisterFieldMatch& field, const WireFrame& wire)
{
    if (field.mask == 0 && field.offset == 0 && field.value == 0)
        return {true, ""};
    if (field.mask == 0)
        return {true, std::string(name) + " has mask 0: switched off"};
    uint32_t word = 0;
    if (!viewWord(wire, field.offset, &word))
        return {false, std::string(name) + " reads word " + std::to_string(field.offset) +
                           ", which the frame does not have: it fails"};
    bool pass = (word & field.mask) == (field.value & field.mask);
    return {pass, std::string(name) + " compares " + wordText(wire, field.offset) + " & " +
                      hex(field.mask) + " = " + hex(word & field.mask) + " with value & mask " +
                      hex(field.value & field.mask)};
}

Part rangePart(const RegisterRangeMatch& range, const WireFrame& wire)
{
    if (range.mask == 0 && range.offset == 0 && range.lo == 0 && range.hi == 0)
        return {true, ""};
    if (range.mask == 0)
        return {true, "range has mask 0: switched off"};
    uint32_t word = 0;
    if (!viewWord(wire, range.offset, &word))
        return {false, "range reads word " + std::to_string(range.offset) +
                           ", which the frame does not have: it fails"};
    uint32_t masked = word & range.mask;
    return {range.lo <= masked && masked <= range.hi,
            "range compares " + wordText(wire, range.offset) + " & " + hex(range.mask) + " = " +
                hex(masked) + " with lo " + hex(range.lo) + " and hi " + hex(range.hi)};
}

std::vector<Part> parts(const RegisterFrameEntry& rule, const WireFrame& wire)
{
    static const char* const kKinds[] = {"any frame", "FC frames only", "Ethernet frames only"};
    std::string kind = rule.offset_from <= TraceFrameFilter::kEthernetFrames
                           ? kKinds[rule.offset_from]
                           : "nothing";
    return {{kindMatches(rule.offset_from, wire),
             "offset_from " + std::to_string(rule.offset_from) + " selects " + kind},
            fieldPart("field_1", rule.field_1, wire),
            fieldPart("field_2", rule.field_2, wire),
            fieldPart("field_3", rule.field_3, wire),
            rangePart(rule.range, wire)};
}

std::string fieldCall(const char* name, const RegisterFieldMatch& field)
{
    char text[96];
    snprintf(text, sizeof text, ", %s mask 0x%08x offset %u value 0x%08x", name, field.mask,
             field.offset, field.value);
    return text;
}

// The rule as the call's arguments: offset_from and every part set.
std::string callText(const RegisterFrameEntry& rule)
{
    std::string text =
        "FrameUtil::FrameMatchesEntry(offset_from " + std::to_string(rule.offset_from);
    const RegisterFieldMatch* fields[] = {&rule.field_1, &rule.field_2, &rule.field_3};
    const char* names[] = {"field_1", "field_2", "field_3"};
    for (int i = 0; i < 3; ++i)
        if (fields[i]->mask != 0 || fields[i]->offset != 0 || fields[i]->value != 0)
            text += fieldCall(names[i], *fields[i]);
    const RegisterRangeMatch& r = rule.range;
    if (r.mask != 0 || r.offset != 0 || r.lo != 0 || r.hi != 0) {
        char range[112];
        snprintf(range, sizeof range, ", range mask 0x%08x offset %u lo 0x%08x hi 0x%08x", r.mask,
                 r.offset, r.lo, r.hi);
        text += range;
    }
    return text + ")";
}

}  // namespace

// Where the host's matcher finds `word`: tries it whole at the probed
// offset, then (a word of zeros proves nothing) at every offset up to two
// past the frame.
std::string diagnose(fcRawFrameStruct* raw, const WireFrame& wire, uint32_t offset,
                     const char* comparison)
{
    uint32_t word = 0;
    if (!viewWord(wire, offset, &word))
        return "";
    RegisterFrameEntry exact{};
    exact.field_1 = {~0u, offset, word};
    if (FrameUtil::FrameMatchesEntry(raw, &exact))
        return " (it finds the whole word " + hex(word) + " at offset " + std::to_string(offset) +
               ", so its " + comparison + " is wrong)";
    bool partial = wire.bytes.size() % 4 != 0 &&
                   offset == TraceFrameFilter::kFirstWireWord + viewWords(wire) - 1;
    if (partial)
        return " (the frame's last word is partial: it must read as " + hex(word) +
               ", its missing bytes zero)";
    if (word == 0)
        return "";
    uint32_t last = TraceFrameFilter::kFirstWireWord + viewWords(wire) + 1;
    for (uint32_t at = 0; at <= last; ++at) {
        exact.field_1.offset = at;
        if (FrameUtil::FrameMatchesEntry(raw, &exact))
            return " (its view has " + hex(word) + " at offset " + std::to_string(at) +
                   ", the library needs it at offset " + std::to_string(offset) + ")";
    }
    return " (its view has " + hex(word) + " at no offset from 0 to " + std::to_string(last) + ")";
}

namespace {

struct Probe {
    RegisterFrameEntry rule;
    uint32_t offset;  // the frame word the probe is about; 0: none to look for
};

RegisterFrameEntry kindRule(uint32_t offsetFrom)
{
    RegisterFrameEntry rule{};
    rule.offset_from = offsetFrom;
    return rule;
}

RegisterFieldMatch* fieldOf(RegisterFrameEntry& rule, unsigned n)
{
    RegisterFieldMatch* fields[] = {&rule.field_1, &rule.field_2, &rule.field_3};
    return fields[n % 3];
}

// Masks that keep some bits of every byte position out, so that a matcher
// that ignores the mask, or applies it to one side only, answers wrongly.
const uint32_t kMasks[] = {0xffff0000, 0x00ffffff, 0x0ff00ff0, 0xff00ff00, 0x000000ff};

// For frame word i: the field (rotating through the three) with its value
// equal under the mask and different outside it, then one masked bit
// changed; the range exactly around the masked word, then just above and
// just below it.
void wordProbes(const WireFrame& wire, uint32_t i, std::vector<Probe>& probes)
{
    uint32_t offset = TraceFrameFilter::kFirstWireWord + i;
    uint32_t word = 0;
    viewWord(wire, offset, &word);
    uint32_t mask = kMasks[i % 5];
    uint32_t kind = i % 2 ? ownKind(wire) : TraceFrameFilter::kAnyFrame;
    RegisterFrameEntry rule = kindRule(kind);
    *fieldOf(rule, i) = {mask, offset, (word & mask) | (~word & ~mask)};
    probes.push_back({rule, offset});
    fieldOf(rule, i)->value ^= mask & (0u - mask);  // the lowest masked bit
    probes.push_back({rule, offset});

    uint32_t rangeMask = kMasks[(i + 2) % 5];
    uint32_t masked = word & rangeMask;
    rule = kindRule(kind);
    rule.range = {rangeMask, offset, masked, masked};
    probes.push_back({rule, offset});
    if (masked != ~0u) {
        rule.range = {rangeMask, offset, masked + 1, ~0u};
        probes.push_back({rule, offset});
    }
    if (masked != 0) {
        rule.range = {rangeMask, offset, 0, masked - 1};
        probes.push_back({rule, offset});
    }
}

std::vector<Probe> probesFor(const WireFrame& wire)
{
    std::vector<Probe> probes;
    for (uint32_t kind : {TraceFrameFilter::kAnyFrame, TraceFrameFilter::kFcFrames,
                          TraceFrameFilter::kEthernetFrames})
        probes.push_back({kindRule(kind), 0});
    uint32_t words = viewWords(wire);
    for (uint32_t i = 0; i < words; ++i)
        wordProbes(wire, i, probes);

    // A partial last word reads with zero bytes: the whole word compares.
    uint32_t last = TraceFrameFilter::kFirstWireWord + words - 1;
    uint32_t lastWord = 0;
    viewWord(wire, last, &lastWord);
    RegisterFrameEntry rule = kindRule(TraceFrameFilter::kAnyFrame);
    rule.field_3 = {~0u, last, lastWord};
    probes.push_back({rule, last});

    // Past the end nothing compares equal, not even zero.
    for (unsigned n = 0; n < 3; ++n) {
        rule = kindRule(TraceFrameFilter::kAnyFrame);
        *fieldOf(rule, n) = {~0u, last + 1 + n, 0};
        probes.push_back({rule, 0});
    }
    rule = kindRule(TraceFrameFilter::kAnyFrame);
    rule.range = {~0u, last + 1, 0, ~0u};
    probes.push_back({rule, 0});

    // Mask 0 switches a comparison off wherever its offset points.
    rule = kindRule(TraceFrameFilter::kAnyFrame);
    rule.field_1 = {0, 0, ~0u};
    rule.field_2 = {0, TraceFrameFilter::kFirstWireWord - 1, ~0u};
    rule.field_3 = {0, last + 1, 1};
    rule.range = {0, TraceFrameFilter::kFirstWireWord - 1, 1, 0};
    probes.push_back({rule, 0});

    // Every comparison must pass: two that do and one that does not.
    uint32_t first = 0, second = 0;
    viewWord(wire, TraceFrameFilter::kFirstWireWord, &first);
    viewWord(wire, TraceFrameFilter::kFirstWireWord + 1, &second);
    rule = kindRule(ownKind(wire));
    rule.field_1 = {~0u, TraceFrameFilter::kFirstWireWord, first};
    rule.range = {~0u, TraceFrameFilter::kFirstWireWord + 1, second, second};
    rule.field_2 = {0xff000000, TraceFrameFilter::kFirstWireWord + 1, ~second};
    probes.push_back({rule, 0});
    return probes;
}

}  // namespace

bool viewWord(const WireFrame& frame, uint32_t offset, uint32_t* word)
{
    if (offset < TraceFrameFilter::kFirstWireWord ||
        offset - TraceFrameFilter::kFirstWireWord >= viewWords(frame))
        return false;
    size_t first = 4 * size_t(offset - TraceFrameFilter::kFirstWireWord);
    *word = 0;
    for (size_t i = 0; i < 4; ++i)
        *word = *word << 8 | (first + i < frame.bytes.size() ? frame.bytes[first + i] : 0);
    return true;
}

bool ruleMatches(const RegisterFrameEntry& rule, const WireFrame& frame)
{
    for (const Part& part : parts(rule, frame))
        if (!part.pass)
            return false;
    return true;
}

std::string explainRule(const RegisterFrameEntry& rule, const WireFrame& frame)
{
    std::string text;
    for (const Part& part : parts(rule, frame))
        if (!part.why.empty())
            text += (text.empty() ? "" : ", and ") + part.why + (part.pass ? "" : " [fails]");
    return text;
}

void checkMatcherRules(Report& report)
{
    for (const WireFrame& wire : wireFrames()) {
        HostFrame frame(wire, report);
        if (!frame.made())
            continue;
        for (Probe& probe : probesFor(wire)) {
            RegisterFrameEntry rule = probe.rule;
            bool matched = FrameUtil::FrameMatchesEntry(frame.raw(), &rule) != 0;
            bool wanted = ruleMatches(probe.rule, wire);
            std::string returned = matched ? "non-zero" : "0";
            if (matched != wanted && probe.offset != 0)
                returned +=
                    diagnose(frame.raw(), wire, probe.offset,
                             probe.rule.range.mask != 0 ? "range test lo <= (word & mask) <= hi"
                                                        : "test (word & mask) == (value & mask)");
            report.check(matched == wanted, callText(probe.rule), frameLabel(wire), returned,
                         (wanted ? "non-zero: " : "0: ") + explainRule(probe.rule, wire));
        }
    }
}

}  // namespace hostcheck
