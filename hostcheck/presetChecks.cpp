// The library's three presets against the host: the host matcher must pick
// exactly the frames each preset means, and frames traced through the
// library must save as the lines their bytes call for.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "checkKit.h"
#include "traceApi.h"

namespace hostcheck {
namespace {

constexpr int kBufferId = 1;
constexpr int kBufferEntries = 16;
constexpr size_t kFcHeaderBytes = 24;

struct Preset {
    const char* name;
    void (TraceApi::*add)();
    bool (*wants)(const WireFrame&);
};

const Preset kPresets[] = {
    {"FC preset", &TraceApi::captureFcFrame,
     [](const WireFrame& wire) { return wire.kind == Kind::fc; }},
    {"Ethernet preset", &TraceApi::captureEthFrame,
     [](const WireFrame& wire) { return wire.kind == Kind::ethernet; }},
    {"ELS preset", &TraceApi::captureELS, isEls},
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char text[160];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// The rule the library builds for the preset, as the host matcher gets it.
RegisterFrameEntry presetRule(TraceApi& api)
{
    return api.frameFilters_m->get_first()->item()->rule;
}

std::string describe(const Preset& preset, const RegisterFrameEntry& rule)
{
    std::string text =
        format("FrameUtil::FrameMatchesEntry(%s: offset_from %u", preset.name, rule.offset_from);
    if (rule.field_1.mask != 0)
        text += format(", field_1 offset %u mask 0x%08x value 0x%08x", rule.field_1.offset,
                       rule.field_1.mask, rule.field_1.value);
    return text + ")";
}

uint32_t payloadWordOrZero(const WireFrame& wire, size_t index)
{
    return index < fcPayloadWords(wire) ? wireWord(wire, kFcHeaderBytes + 4 * index) : 0;
}

const char* elsName(uint32_t code)
{
    static const struct {
        uint32_t code;
        const char* name;
    } kNames[] = {{0x01, "LS_RJT"}, {0x02, "LS_ACC"}, {0x03, "PLOGI"}, {0x04, "FLOGI"}};
    for (const auto& entry : kNames)
        if (entry.code == code)
            return entry.name;
    return "CMD";
}

std::string fcHeaderText(const WireFrame& wire)
{
    uint32_t word0 = wireWord(wire, 0);
    uint32_t exchange = wireWord(wire, 16);
    return format("rx r_ctl %2.2x d_id %6.6x s_id %6.6x type %2.2x ox_id %4.4x rx_id %4.4x",
                  word0 >> 24, word0 & 0xFFFFFF, wireWord(wire, 4) & 0xFFFFFF,
                  wireWord(wire, 8) >> 24, exchange >> 16, exchange & 0xFFFF);
}

std::string elsText(const WireFrame& wire)
{
    uint32_t words[3] = {payloadWordOrZero(wire, 0), payloadWordOrZero(wire, 1),
                         payloadWordOrZero(wire, 2)};
    return format("ELS %s (%8.8x %8.8x %8.8x)", elsName(words[0] >> 24), words[0], words[1],
                  words[2]);
}

std::string macText(const WireFrame& wire, size_t first)
{
    const uint8_t* b = wire.bytes.data() + first;
    return format("%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
}

// The VLAN tags, then the payload words, the first three of them.
std::string ethernetText(const WireFrame& wire)
{
    std::vector<uint32_t> words;
    for (unsigned tag = 0; tag < vlanTags(wire); ++tag)
        words.push_back(wireWord(wire, 12 + 4 * tag));
    for (size_t i = 0; i < ethPayloadWords(wire); ++i)
        words.push_back(wireWord(wire, ethPayloadOffset(wire) + 4 * i));
    words.resize(3 > words.size() ? 3 : words.size());
    return "rx dmac " + macText(wire, 0) + " smac " + macText(wire, 6) + "  " +
           format("%8.8x %8.8x %8.8x ", words[0], words[1], words[2]);
}

// The saved line after its time stamp.
std::string expectedTail(const Preset& preset, const WireFrame& wire)
{
    const port_id_t& port = wire.port;
    std::string line = " " + portText(port) + "  ";
    if (wire.kind == Kind::ethernet)
        return line + ethernetText(wire);
    line += fcHeaderText(wire);
    return preset.add == &TraceApi::captureELS ? line + "  " + elsText(wire) : line;
}

// The trace lines ("1: ...") of a saved trace file.
std::vector<std::string> savedTraceLines(TraceApi& api)
{
    char path[] = "/tmp/hostcheck-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return {"(no temporary file)"};
    close(fd);
    api.saveTrace(path);
    std::ifstream file(path);
    std::vector<std::string> lines;
    const std::string prefix = std::to_string(kBufferId) + ": ";
    for (std::string line; std::getline(file, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    unlink(path);
    return lines;
}

// api holds only the preset's filter; each frame gets a fresh buffer.
void checkTrace(Report& report, TraceApi& api, const Preset& preset, const WireFrame& wire)
{
    HostFrame frame(wire, report);
    if (!frame.made())
        return;
    char name[] = "hostcheck";
    api.initTraceBuffer(kBufferId, name, kBufferEntries, true);
    if (frame.fc)
        api.traceRx(frame.fc);
    else
        api.traceRx(frame.ethernet);
    std::vector<std::string> lines = savedTraceLines(api);
    std::string what = std::string("saved trace of traceRx with the ") + preset.name;
    std::string saved = lines.empty() ? "no trace" : "'" + lines[0] + "'";
    if (!preset.wants(wire)) {
        report.check(lines.empty(), what, frameLabel(wire), saved, "no trace");
        return;
    }
    std::string tail = expectedTail(preset, wire);
    std::string line = lines.empty() ? "" : lines[0];
    bool ok = lines.size() == 1 && line.size() > 3 + tail.size() &&
              line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    report.check(ok, what, frameLabel(wire), saved,
                 "'" + std::to_string(kBufferId) + ": <time>" + tail + "'");
}

}  // namespace

void checkMatcher(Report& report)
{
    for (const Preset& preset : kPresets) {
        TraceApi api;
        (api.*preset.add)();
        RegisterFrameEntry rule = presetRule(api);
        std::string call = describe(preset, rule);
        for (const WireFrame& wire : wireFrames()) {
            HostFrame frame(wire, report);
            if (!frame.made())
                continue;
            RegisterFrameEntry copy = rule;
            bool matched = FrameUtil::FrameMatchesEntry(frame.raw(), &copy) != 0;
            bool wanted = preset.wants(wire);
            std::string returned = matched ? "non-zero" : "0";
            if (matched != wanted && rule.field_1.mask != 0)
                returned += diagnose(frame.raw(), wire, rule.field_1.offset,
                                     "test (word & mask) == (value & mask)");
            report.check(matched == wanted, call, frameLabel(wire), returned,
                         (wanted ? "non-zero: " : "0: ") + explainRule(rule, wire));
        }
    }
}

// One TraceApi a preset, whatever the number of frames: every TraceApi
// registers five steps, and step ids are never reused (checkStepIds).
void checkTraces(Report& report)
{
    for (const Preset& preset : kPresets) {
        TraceApi api;
        (api.*preset.add)();
        for (const WireFrame& wire : wireFrames())
            checkTrace(report, api, preset, wire);
    }
}

// Step ids run out at 1023; past that, saved traces read "NULL trace step
// id". The kit builds six TraceApis of five steps each, whatever the number
// of frames; this fails when a change (to the kit or to the host's adapter)
// makes the steps registered during the run grow with the checks or frames.
void checkStepIds(Report& report, uint32_t idsBefore)
{
    constexpr uint32_t kStepIds = 1023;
    constexpr uint32_t kRunShare = kStepIds / 4;
    uint32_t used = TraceStep::traceStepCount_m - idsBefore;
    report.check(used <= kRunShare, "TraceStep ids registered", "the whole run",
                 std::to_string(used),
                 "at most " + std::to_string(kRunShare) + " of the " + std::to_string(kStepIds) +
                     " ids, which are never reused (a TraceApi takes 5)");
}

}  // namespace hostcheck
