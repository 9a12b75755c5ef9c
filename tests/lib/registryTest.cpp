// The process-wide step registry.
//
// Step ids depend on every step the process has created before, so this
// executable creates steps in exactly one place: the single ordered scenario
// below, which must start in a fresh process (ctest runs each test in its own
// process; run by hand, it is the first test). Shuffling is switched off.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "traceApi.h"

namespace {

class MemStream {
public:
    MemStream() : stream_(open_memstream(&data_, &size_)) {}
    ~MemStream()
    {
        if (stream_)
            fclose(stream_);
        free(data_);
    }
    FILE* get() { return stream_; }
    std::string text()
    {
        fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

std::string registryDump()
{
    MemStream out;
    TraceStep::dump(out.get());
    return out.text();
}

std::string describeText(TraceStep* step)
{
    MemStream out;
    step->describe(out.get());
    return out.text();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// A describe line: "[<file>.<line>:id <id> (<v>/<i>)(<v>/<i>)(<v>/<i>)]". The
// file is the library source, relative to the source tree.
const char* const kDescribePattern =
    R"(\[src/traceStep\.cpp\.([0-9]+):id ([0-9]+) \((0|1)/(-?[0-9]+)\)\((0|1)/(-?[0-9]+)\)\((0|1)/(-?[0-9]+)\)\])";

struct Described {
    bool ok = false;
    int line = 0;
    int id = 0;
    std::string selectors;   // "(v/i)(v/i)(v/i)"
};

Described parseDescribe(const std::string& line)
{
    static const std::regex pattern(kDescribePattern);
    std::smatch m;
    Described d;
    if (!std::regex_match(line, m, pattern))
        return d;
    d.ok = true;
    d.line = std::stoi(m[1]);
    d.id = std::stoi(m[2]);
    d.selectors = "(" + m[3].str() + "/" + m[4].str() + ")(" + m[5].str() + "/" + m[6].str() +
                  ")(" + m[7].str() + "/" + m[8].str() + ")";
    return d;
}

const char* const kNoSelectors = "(0/-1)(0/-1)(0/-1)";
const char* const kElsSelectors = "(1/0)(1/1)(1/2)";

// Checks the dump of a registry in which slots [0, firstLive) are null and
// the given steps follow with their ids and selectors.
void expectDump(uint32_t count, int firstLive, const std::vector<std::pair<int, std::string>>& live)
{
    std::vector<std::string> got = lines(registryDump());
    ASSERT_EQ(got.size(), 1u + count);
    EXPECT_EQ(got[0], "traceStepCount " + std::to_string(count));
    for (int i = 0; i < firstLive; ++i)
        EXPECT_EQ(got[1 + i], std::to_string(i) + ": step null");
    int line = -1;
    for (size_t k = 0; k < live.size(); ++k) {
        const std::string& text = got[1 + firstLive + k];
        Described d = parseDescribe(text);
        ASSERT_TRUE(d.ok) << "not a describe line: " << text;
        EXPECT_EQ(d.id, live[k].first) << text;
        EXPECT_EQ(d.selectors, live[k].second) << text;
        if (line < 0)
            line = d.line;
        EXPECT_EQ(d.line, line) << "every describe line names the same printing statement";
        EXPECT_GT(d.line, 0);
    }
}

class DeviceStep : public TraceDeviceEvent {};

}  // namespace

// Runs first. It creates no step itself (only its children read the registry),
// so the scenario below still starts from a fresh registry.
TEST(StepRegistry, EmptyRegistryBeforeAnyStep)
{
    if (TraceStep::traceStepCount_m != 1u)
        GTEST_SKIP() << "steps were created earlier in this process";
    EXPECT_EQ(TraceStep::traceSteps_m.size(), 0u) << "the registry starts as an empty array";
    EXPECT_EQ(TraceStep::traceSteps_m.data_m, nullptr);
    EXPECT_EQ(TraceStep::next_id_m, 1);
    EXPECT_EQ(TraceStep::getStep(-1), nullptr);
    EXPECT_EQ(TraceStep::getStep(1), nullptr);
    EXPECT_EQ(TraceStep::getStep(INT_MIN), nullptr);
    EXPECT_EQ(TraceStep::getStep(INT_MAX), nullptr);
    TraceStep::dump(nullptr);   // a null stream: nothing happens
    // getStep(0) and dump read slot 0, which exists in no array yet: both
    // must still answer null and print the null line of slot 0. Run in a
    // child so that a crash shows as a failure here.
    EXPECT_EXIT(_exit(TraceStep::getStep(0) == nullptr ? 0 : 1), testing::ExitedWithCode(0), "")
        << "getStep(0) before any step was registered";
    EXPECT_EXIT(_exit(registryDump() == "traceStepCount 1\n0: step null\n" ? 0 : 1),
                testing::ExitedWithCode(0), "")
        << "dump before any step was registered";
    EXPECT_EQ(TraceStep::traceStepCount_m, 1u);
}

TEST(StepRegistry, OrderedLifecycleFromAFreshProcess)
{
    ASSERT_EQ(TraceStep::traceStepCount_m, 1u)
        << "this scenario must be the first to create steps in its process";
    EXPECT_EQ(TraceStep::getStep(-1), nullptr);
    EXPECT_EQ(TraceStep::getStep(1), nullptr);

    // ---- The first TraceApi: its five steps get ids 1 to 5 in a fixed order.
    TraceApi* api = new TraceApi();
    EXPECT_EQ(api->fcHeader_m->stepId_m, 1);
    EXPECT_EQ(api->ethDmacSmac_m->stepId_m, 2);
    EXPECT_EQ(api->ethData_m->stepId_m, 3);
    EXPECT_EQ(api->els_m->stepId_m, 4);
    EXPECT_EQ(api->identifier_m->stepId_m, 5);
    EXPECT_EQ(TraceStep::traceStepCount_m, 6u);
    EXPECT_EQ(TraceStep::traceSteps_m.size(), 8u) << "grown by doubling: 2, 4, 8";
    EXPECT_EQ(TraceStep::getStep(0), nullptr);
    EXPECT_EQ(TraceStep::getStep(1), api->fcHeader_m);
    EXPECT_EQ(TraceStep::getStep(2), api->ethDmacSmac_m);
    EXPECT_EQ(TraceStep::getStep(3), api->ethData_m);
    EXPECT_EQ(TraceStep::getStep(4), api->els_m);
    EXPECT_EQ(TraceStep::getStep(5), api->identifier_m);
    EXPECT_EQ(TraceStep::getStep(6), nullptr);
    EXPECT_EQ(TraceStep::getStep(7), nullptr) << "a slot of the array beyond the count";
    EXPECT_EQ(TraceStep::getStep(-1), nullptr);
    expectDump(6, 1,
               {{1, kNoSelectors}, {2, kNoSelectors}, {3, kNoSelectors}, {4, kElsSelectors},
                {5, kNoSelectors}});
    {
        Described d = parseDescribe(lines(describeText(api->els_m)).at(0));
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.id, 4);
        EXPECT_EQ(d.selectors, kElsSelectors);
        EXPECT_EQ(describeText(api->els_m).back(), '\n');
    }

    // ---- Destroying it empties slots 1 to 5 for good.
    delete api;
    EXPECT_EQ(TraceStep::traceStepCount_m, 6u) << "the count never decreases";
    for (int id = 0; id <= 6; ++id)
        EXPECT_EQ(TraceStep::getStep(id), nullptr) << id;
    EXPECT_EQ(registryDump(),
              "traceStepCount 6\n0: step null\n1: step null\n2: step null\n3: step null\n"
              "4: step null\n5: step null\n");

    // ---- A second TraceApi gets 6 to 10; slots 1 to 5 stay null.
    api = new TraceApi();
    EXPECT_EQ(api->fcHeader_m->stepId_m, 6);
    EXPECT_EQ(api->ethDmacSmac_m->stepId_m, 7);
    EXPECT_EQ(api->ethData_m->stepId_m, 8);
    EXPECT_EQ(api->els_m->stepId_m, 9);
    EXPECT_EQ(api->identifier_m->stepId_m, 10);
    EXPECT_EQ(TraceStep::traceStepCount_m, 11u);
    EXPECT_EQ(TraceStep::traceSteps_m.size(), 16u);
    expectDump(11, 6,
               {{6, kNoSelectors}, {7, kNoSelectors}, {8, kNoSelectors}, {9, kElsSelectors},
                {10, kNoSelectors}});
    EXPECT_EQ(TraceStep::getStep(0), nullptr);
    EXPECT_EQ(TraceStep::getStep(-1), nullptr);
    EXPECT_EQ(TraceStep::getStep(static_cast<int>(TraceStep::traceStepCount_m)), nullptr);
    EXPECT_EQ(TraceStep::getStep(static_cast<int>(TraceStep::traceStepCount_m) - 1),
              api->identifier_m);
    for (int id = 1; id <= 5; ++id)
        EXPECT_EQ(TraceStep::getStep(id), nullptr) << id;

    // ---- A step of the host's: destroyed, its slot stays null and the next
    // step still gets a fresh id.
    TraceStep* payload = new TraceFcPayload(3, -1, 7);
    EXPECT_EQ(payload->stepId_m, 11);
    {
        Described d = parseDescribe(lines(describeText(payload)).at(0));
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.id, 11);
        EXPECT_EQ(d.selectors, "(1/3)(0/-1)(1/7)");
    }
    TraceDeviceEvent* event = new TraceDeviceEvent();
    EXPECT_EQ(event->stepId_m, 12);
    EXPECT_EQ(TraceStep::getStep(12), event);
    delete event;
    EXPECT_EQ(TraceStep::getStep(12), nullptr);
    EXPECT_EQ(TraceStep::getStep(11), payload);
    EXPECT_EQ(TraceStep::traceStepCount_m, 13u);
    {
        std::vector<std::string> got = lines(registryDump());
        ASSERT_EQ(got.size(), 14u);
        EXPECT_EQ(got[0], "traceStepCount 13");
        EXPECT_EQ(got[13], "12: step null");
        EXPECT_EQ(parseDescribe(got[12]).id, 11);
    }
    TraceDeviceEvent* next = new DeviceStep();
    EXPECT_EQ(next->stepId_m, 13) << "ids are never reused";
    EXPECT_EQ(TraceStep::getStep(13), next);
    delete next;
    delete payload;
    delete api;

    // ---- Up to the cap: ids run to 1023; the step built when the count is
    // 1024 keeps id 0xFFFF and the count stays 1024.
    std::vector<std::unique_ptr<TraceDeviceEvent>> steps;
    while (TraceStep::traceStepCount_m < 1024) {
        uint32_t expected = TraceStep::traceStepCount_m;
        steps.emplace_back(new TraceDeviceEvent());
        if (steps.back()->stepId_m != expected) {
            ADD_FAILURE() << "step got id " << steps.back()->stepId_m << ", expected " << expected;
            break;
        }
    }
    ASSERT_EQ(TraceStep::traceStepCount_m, 1024u);
    TraceDeviceEvent* last = steps.back().get();
    EXPECT_EQ(last->stepId_m, 1023);
    EXPECT_EQ(TraceStep::getStep(1023), last);
    EXPECT_EQ(TraceStep::traceSteps_m.size(), 1024u);

    TraceDeviceEvent* beyond = new TraceDeviceEvent();
    EXPECT_EQ(beyond->stepId_m, 0xFFFF);
    EXPECT_EQ(TraceStep::traceStepCount_m, 1024u);
    EXPECT_EQ(TraceStep::traceSteps_m.size(), 1024u) << "no slot for an unregistered step";
    EXPECT_EQ(TraceStep::getStep(1024), nullptr);
    EXPECT_EQ(TraceStep::getStep(0xFFFF), nullptr);
    EXPECT_EQ(TraceStep::getStep(1023), last);
    {
        Described d = parseDescribe(lines(describeText(beyond)).at(0));
        EXPECT_TRUE(d.ok) << describeText(beyond);
        EXPECT_EQ(d.id, 65535);
        EXPECT_EQ(d.selectors, kNoSelectors);
    }
    // The unregistered step still works.
    TraceEntry entry;
    WorldWideName name(0x10000005u, 0x1e123456u);
    beyond->capture(&entry, name, 0x1f, 3);
    EXPECT_EQ(entry.word1, 0x10000005u);
    EXPECT_EQ(entry.word3, 0x1fu);
    // Destroying it touches no slot.
    delete beyond;
    EXPECT_EQ(TraceStep::getStep(1023), last);
    EXPECT_EQ(TraceStep::traceStepCount_m, 1024u);

    // A TraceApi built now works with unregistered steps.
    api = new TraceApi();
    EXPECT_EQ(api->fcHeader_m->stepId_m, 0xFFFF);
    EXPECT_EQ(api->identifier_m->stepId_m, 0xFFFF);
    EXPECT_EQ(TraceStep::traceStepCount_m, 1024u);
    delete api;
    EXPECT_EQ(TraceStep::getStep(1023), last);

    {
        std::vector<std::string> got = lines(registryDump());
        ASSERT_EQ(got.size(), 1025u);
        EXPECT_EQ(got[0], "traceStepCount 1024");
        EXPECT_EQ(got[1], "0: step null");
        EXPECT_EQ(got[13], "12: step null");
        Described d = parseDescribe(got[1024]);
        EXPECT_TRUE(d.ok) << got[1024];
        EXPECT_EQ(d.id, 1023);
    }

    // Destroying every step empties every slot; a new step is still
    // unregistered.
    steps.clear();
    for (int id = 0; id < 1024; ++id)
        if (TraceStep::getStep(id) != nullptr)
            ADD_FAILURE() << "slot " << id << " still holds a step";
    TraceDeviceEvent late;
    EXPECT_EQ(late.stepId_m, 0xFFFF);
    EXPECT_EQ(TraceStep::traceStepCount_m, 1024u);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // The scenario depends on the order in which steps are created.
    GTEST_FLAG_SET(shuffle, false);
    return RUN_ALL_TESTS();
}
