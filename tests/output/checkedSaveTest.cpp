// traceSaveFile and traceDumpFile: the bytes of saveTrace and debugDump,
// every failure returned as an errno, the target replaced only whole.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "apiSupport.h"
#include "fileText.h"
#include "traceFiles.h"
#include "traceRecovery.h"

namespace {

namespace fs = std::filesystem;

void writeText(const std::string& path, const char* text)
{
    FILE* file = fopen(path.c_str(), "w");
    fputs(text, file);
    fclose(file);
}

// Some 40 KB of saved trace: 500 device events in one buffer.
class CheckedSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(api.initTraceBuffer(1, cs("events"), 1024, true));
        WorldWideName wwn(0x10000005, 0x1e123456);
        for (int i = 0; i < 500; i++)
            api.traceDeviceEvent(uint32_t(i), wwn, i, 1, event.stepId_m);
        dir = fs::temp_directory_path() / ("checkedSave" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    // What the unchecked call writes, to compare with.
    std::string unchecked(void (TraceApi::*op)(char*))
    {
        const std::string reference = path("reference");
        (api.*op)(cs(reference.c_str()));
        std::string text = readFile(reference);
        fs::remove(reference);
        return text;
    }
    size_t filesInDir() const
    {
        return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    TraceApi api;
    TraceDeviceEvent event;
    fs::path dir;
};

TEST_F(CheckedSave, WritesTheBytesOfTheUncheckedCalls)
{
    ASSERT_EQ(traceSaveFile(&api, path("saved").c_str()), 0);
    ASSERT_EQ(traceDumpFile(&api, path("dump").c_str()), 0);
    EXPECT_EQ(readFile(path("saved")), unchecked(&TraceApi::saveTrace));
    EXPECT_EQ(readFile(path("dump")), unchecked(&TraceApi::debugDump));
    EXPECT_EQ(filesInDir(), 2u);  // no temporary file left
}

// tracerecover's save: the filter section given as text, the rest the API's.
TEST_F(CheckedSave, SavedTraceWithAnotherFilterSection)
{
    api.captureFcFrame();
    const std::string filters =
        streamText([this](FILE* f) { api.frameFilters_m->get_first()->item()->dump(f); });
    const std::string saved = unchecked(&TraceApi::saveTrace);
    EXPECT_EQ(streamText([this, &filters](FILE* f) {
                  EXPECT_EQ(traceWriteSavedTrace(&api, f, 1, filters.data(), filters.size()), 0);
              }),
              saved);
    const std::string other = streamText(
        [this](FILE* f) { EXPECT_EQ(traceWriteSavedTrace(&api, f, 12, "a\nb\n", 4), 0); });
    EXPECT_EQ(other, "12 TraceFrameFilters defined:\na\nb\n" +
                         saved.substr(saved.find(filters) + filters.size()));
    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(traceWriteSavedTrace(&api, full, 0, nullptr, 0), EIO);
    fclose(full);
    EXPECT_EQ(traceWriteSavedTrace(&api, stdout, 0, nullptr, 1), EINVAL);
}

TEST_F(CheckedSave, FailuresAreTheirErrno)
{
    EXPECT_EQ(traceSaveFile(&api, "/dev/full"), ENOSPC);  // the flush at close
    EXPECT_EQ(traceDumpFile(&api, "/dev/full"), ENOSPC);
    EXPECT_EQ(traceSaveFile(&api, path("none/saved").c_str()), ENOENT);
    EXPECT_EQ(traceSaveFile(&api, nullptr), EINVAL);
    EXPECT_EQ(traceSaveFile(nullptr, path("saved").c_str()), EINVAL);
    EXPECT_EQ(traceSaveFile(&api, "/dev/null"), 0);  // a device is written in place
    EXPECT_EQ(filesInDir(), 0u);
}

// A file size limit fails a write halfway (EFBIG, the way a full disk
// fails with ENOSPC): the old file stays whole, no half file is left.
TEST_F(CheckedSave, FailedWriteLeavesTheOldFileAndNoHalfFile)
{
    const std::string saved = path("saved");
    writeText(saved, "old\n");
    chmod(saved.c_str(), 0640);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int error = traceSaveFile(&api, saved.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(readFile(saved), "old\n");
    EXPECT_EQ(filesInDir(), 1u);
    ASSERT_EQ(traceSaveFile(&api, saved.c_str()), 0);
    EXPECT_EQ(fs::status(saved).permissions(), fs::perms(0640));
}

TEST_F(CheckedSave, LinkIsFollowedAndKept)
{
    const std::string target = path("target"), link = path("link");
    writeText(target, "old\n");
    fs::create_symlink(target, link);
    ASSERT_EQ(traceSaveFile(&api, link.c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), unchecked(&TraceApi::saveTrace));
}

}  // namespace
