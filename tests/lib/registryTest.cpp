// The process-wide step registry. Step ids depend on every step created
// before, so the tests run in declaration order (shuffling off) and each
// needs the fresh process ctest gives it; by hand, run them together.
#include <gtest/gtest.h>

#include <stdio.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "traceApi.h"

namespace {

// The registry's dump with each describe line's source position left out:
// "[src/FILE.cpp.LINE:id 4 (1/0)(1/1)(1/2)]" reads "[id 4 (1/0)(1/1)(1/2)]",
// whichever source file and line of the library writes it.
std::string dump()
{
    char text[1 << 16] = "";
    FILE* stream = fmemopen(text, sizeof text, "w");
    TraceStep::dump(stream);
    fclose(stream);
    static const std::regex position(R"(\[src/\w+\.cpp\.[0-9]+:id )");
    return std::regex_replace(std::string(text), position, "[id ");
}

// The dump lines of slots first to last: null ones, or plain steps'.
std::string lines(int first, int last, bool null = false)
{
    std::string text;
    for (int id = first; id <= last; ++id)
        text += null ? std::to_string(id) + ": step null\n"
                     : "[id " + std::to_string(id) + " (0/-1)(0/-1)(0/-1)]\n";
    return text;
}

// A TraceApi's five steps in the order of their ids; ELS selects payload words 0 to 2.
std::string apiLines(TraceApi* api, int first)
{
    TraceStep* const steps[] = {api->fcHeader_m, api->ethDmacSmac_m, api->ethData_m, api->els_m,
                                api->identifier_m};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(TraceStep::getStep(first + i), steps[i]) << "step " << i;
    return lines(first, first + 2) + "[id " + std::to_string(first + 3) + " (1/0)(1/1)(1/2)]\n" +
           lines(first + 4, first + 4);
}

}  // namespace

TEST(StepRegistry, EmptyBeforeAnyStep)
{
    if (TraceStep::traceStepCount_m != 1u)
        GTEST_SKIP() << "steps were created earlier in this process";
    EXPECT_EQ(TraceStep::getStep(0), nullptr) << "slot 0 exists in no array yet";
    EXPECT_EQ(dump(), "traceStepCount 1\n0: step null\n");
}

TEST(StepRegistry, IdsSlotsAndDumpThroughALifetimeUpToTheCap)
{
    ASSERT_EQ(TraceStep::traceStepCount_m, 1u) << "must be the first to create steps";
    TraceApi* api = new TraceApi();
    EXPECT_EQ(dump(), "traceStepCount 6\n" + lines(0, 0, true) + apiLines(api, 1));
    delete api;
    EXPECT_EQ(dump(), "traceStepCount 6\n" + lines(0, 5, true));
    api = new TraceApi();
    EXPECT_EQ(dump(), "traceStepCount 11\n" + lines(0, 5, true) + apiLines(api, 6));
    delete new TraceDeviceEvent();  // id 11: its slot stays empty, its id is not reused
    TraceDeviceEvent twelve;
    for (int id : {0, -1, 1, 5, 11, 13})
        EXPECT_EQ(TraceStep::getStep(id), nullptr) << id;
    EXPECT_EQ(dump(), "traceStepCount 13\n" + lines(0, 5, true) + apiLines(api, 6) +
                          lines(11, 11, true) + lines(12, 12));
    delete api;

    std::vector<std::unique_ptr<TraceDeviceEvent>> steps;
    while (TraceStep::traceStepCount_m < 1024 && steps.size() < 2000)
        steps.emplace_back(new TraceDeviceEvent());
    {
        TraceDeviceEvent beyond;  // no slot left: unregistered
        EXPECT_EQ(beyond.stepId_m, 0xFFFF);
        EXPECT_EQ(TraceStep::traceStepCount_m, 1024u);
    }
    EXPECT_EQ(TraceStep::getStep(1023), steps.back().get()) << "and destroyed, it freed none";
    EXPECT_EQ(TraceStep::getStep(1024), nullptr);
    EXPECT_EQ(dump(), "traceStepCount 1024\n" + lines(0, 11, true) + lines(12, 1023));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(shuffle, false);
    return RUN_ALL_TESTS();
}
