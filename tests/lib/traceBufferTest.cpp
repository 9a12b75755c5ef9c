// TraceBuffer: the ring of 16-byte records.
#include <gtest/gtest.h>

#include <limits.h>
#include <malloc.h>

#include <new>
#include <string>

#include "traceBuffer.h"

namespace {

// The slots of the oldest-to-newest walk, "/", and the current slot: "1230/0".
std::string ring(TraceBuffer& b)
{
    std::string text;
    int cursor = -1;
    for (TraceEntry* e = b.getFirstEntry(cursor); e && text.size() <= 8; e = b.getNextEntry(cursor))
        text += std::to_string(e - b.entries);
    TraceEntry* current = b.getCurrentEntry();
    return text + "/" + (current ? std::to_string(current - b.entries) : "-");
}

}  // namespace

TEST(TraceBuffer, RingWalkAndCurrentEntryAfterEachNumberOfCalls)
{
    const struct {
        int size, calls;
        const char* ring;
    } rows[] = {{1, 0, "0/-"},  {1, 1, "0/0"}, {1, 2, "0/0"},   {2, 1, "0/0"},    {2, 2, "01/1"},
                {2, 3, "10/0"}, {4, 0, "0/-"}, {4, 3, "012/2"}, {4, 4, "0123/3"}, {4, 5, "1230/0"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "ring " << row.size << ", " << row.calls << " calls");
        TraceBuffer buffer(1, nullptr, row.size);
        for (int call = 0; call < row.calls; ++call) {
            TraceEntry* entry = buffer.getFreeEntry();
            EXPECT_EQ(entry, &buffer.entries[call % row.size]);
            EXPECT_EQ(entry->id | entry->flags | entry->word1 | entry->word2 | entry->word3, 0u);
            entry->id = entry->flags = 0xff;  // handed out again, the record is cleared
            entry->word1 = entry->word2 = entry->word3 = 0xffffffff;
        }
        EXPECT_EQ(ring(buffer), row.ring);
        EXPECT_EQ(buffer.wrapped, row.calls >= row.size);
        EXPECT_EQ(buffer.recordsHandedOut(), uint64_t(row.calls));
    }
}

// A restored ring reads and goes on as the ring it was copied from.
TEST(TraceBuffer, RestoredRingWalksAndCountsAsTheOriginal)
{
    for (int calls : {0, 3, 4, 6}) {
        SCOPED_TRACE(calls);
        TraceBuffer original(1, nullptr, 4), restored(2, nullptr, 4);
        for (int call = 0; call < calls; ++call)
            original.getFreeEntry()->word1 = uint32_t(call + 1);
        restored.restore(original.entries, original.nextIndex, original.wrapped);
        EXPECT_EQ(ring(restored), ring(original));
        EXPECT_EQ(restored.recordsHandedOut(), uint64_t(calls));  // within two laps: exact
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(restored.entries[i].word1, original.entries[i].word1);
        EXPECT_EQ(restored.getFreeEntry() - restored.entries,
                  original.getFreeEntry() - original.entries);
    }
}

TEST(TraceBufferDeathTest, SizeMustBeANonZeroPowerOfTwo)
{
    for (int size : {0, 3, 6, -4, INT_MIN})
        EXPECT_DEATH(TraceBuffer(1, nullptr, size),
                     R"(Assertion `\(numEntries != 0\) && !\(numEntries & \(numEntries - 1\)\)')");
}

TEST(TraceBuffer, HugeRingThrowsBadAllocOn32Bit)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "2^30 records of 16 bytes overflow only a 32-bit size_t";
    char name[] = "a buffer that cannot be built, whose name must not leak";
    size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 100; ++i)
        EXPECT_THROW(TraceBuffer(1, name, 1 << 30), std::bad_alloc);
    EXPECT_LT(mallinfo2().uordblks, before + 1000) << "the names leaked";
}
