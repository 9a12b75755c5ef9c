// TraceEntry and TraceBuffer.
#include <gtest/gtest.h>

#include <limits.h>
#include <malloc.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "traceBuffer.h"

namespace {

// Everything a stream receives, as a string.
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

// Slot indexes of an oldest-to-newest walk.
std::vector<int> walk(TraceBuffer& buffer)
{
    std::vector<int> slots;
    int cursor = -1;
    TraceEntry* entry = buffer.getFirstEntry(cursor);
    while (entry != nullptr && slots.size() <= static_cast<size_t>(buffer.numEntries) + 1) {
        EXPECT_EQ(entry, &buffer.entries[cursor]) << "the cursor names the returned slot";
        slots.push_back(static_cast<int>(entry - buffer.entries));
        entry = buffer.getNextEntry(cursor);
    }
    return slots;
}

int slotOf(TraceBuffer& buffer, TraceEntry* entry)
{
    return entry == nullptr ? -1 : static_cast<int>(entry - buffer.entries);
}

void scribble(TraceEntry* entry, uint32_t stamp)
{
    entry->id = 0xABCD;
    entry->flags = 0x7F;
    entry->word1 = stamp;
    entry->word2 = 0xDEADBEEF;
    entry->word3 = 0xFEEDFACE;
}

std::string escapeRegex(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (strchr("\\^$.|?*+()[]{}", c) != nullptr)
            out += '\\';
        out += c;
    }
    return out;
}

char* mutableText(std::string& s) { return &s[0]; }

}  // namespace

// ---------------------------------------------------------------------------
// TraceEntry

TEST(TraceEntry, LayoutIsSixteenBytes)
{
    EXPECT_EQ(sizeof(TraceEntry), 16u);
    EXPECT_EQ(offsetof(TraceEntry, id), 0u);
    EXPECT_EQ(offsetof(TraceEntry, flags), 2u);
    EXPECT_EQ(offsetof(TraceEntry, word1), 4u);
    EXPECT_EQ(offsetof(TraceEntry, word2), 8u);
    EXPECT_EQ(offsetof(TraceEntry, word3), 12u);
}

TEST(TraceEntry, DefaultIsAllZero)
{
    TraceEntry e;
    EXPECT_EQ(e.id, 0);
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(e.word1, 0u);
    EXPECT_EQ(e.word2, 0u);
    EXPECT_EQ(e.word3, 0u);
}

TEST(TraceEntry, FlagValues)
{
    EXPECT_EQ(TRACE_ENTRY_BEGIN, 0x0001);
    EXPECT_EQ(TRACE_ENTRY_END, 0x0002);
    EXPECT_EQ(TRACE_ENTRY_PAYLOAD_MISSING, 0x0004);
    EXPECT_EQ(TRACE_ENTRY_PORT, 0x0008);
    EXPECT_EQ(TRACE_ENTRY_PORT_PAIR, 0x0010);
    EXPECT_EQ(TRACE_ENTRY_RX, 0x0020);
    EXPECT_EQ(TRACE_ENTRY_TX, 0x0040);
}

// ---------------------------------------------------------------------------
// Construction

TEST(TraceBuffer, ConstructionStoresTheFieldsAndZeroesTheRing)
{
    char name[] = "ring";
    TraceBuffer buffer(12, name, 8);
    EXPECT_EQ(buffer.bufferId, 12);
    EXPECT_STREQ(buffer.bufferName, "ring");
    EXPECT_NE(buffer.bufferName, name) << "the name is copied";
    EXPECT_EQ(buffer.numEntries, 8);
    EXPECT_EQ(buffer.nextIndex, 0);
    EXPECT_FALSE(buffer.wrapped);
    ASSERT_NE(buffer.entries, nullptr);
    for (int i = 0; i < 8; ++i) {
        const TraceEntry& e = buffer.entries[i];
        EXPECT_EQ(e.id, 0);
        EXPECT_EQ(e.flags, 0);
        EXPECT_EQ(e.word1 | e.word2 | e.word3, 0u) << i;
    }
    name[0] = 'X';
    EXPECT_STREQ(buffer.bufferName, "ring") << "later changes of the caller's text do not show";
}

TEST(TraceBuffer, NullNameGivesTraceBufferAndTheId)
{
    TraceBuffer seven(7, nullptr, 4);
    EXPECT_STREQ(seven.bufferName, "Trace Buffer 7");
    TraceBuffer zero(0, nullptr, 1);
    EXPECT_STREQ(zero.bufferName, "Trace Buffer 0");
    TraceBuffer negative(-5, nullptr, 1);
    EXPECT_STREQ(negative.bufferName, "Trace Buffer -5");
    TraceBuffer smallest(INT_MIN, nullptr, 1);
    EXPECT_STREQ(smallest.bufferName, "Trace Buffer -2147483648");
    TraceBuffer largest(INT_MAX, nullptr, 1);
    EXPECT_STREQ(largest.bufferName, "Trace Buffer 2147483647");
}

TEST(TraceBuffer, NamesAreCopiedWholeWhateverTheirLength)
{
    for (size_t length : {0u, 1u, 30u, 31u, 32u, 33u, 63u, 64u, 255u, 256u, 5000u}) {
        std::string name(length, 'n');
        for (size_t i = 0; i < length; ++i)
            name[i] = static_cast<char>('a' + i % 26);
        TraceBuffer buffer(1, mutableText(name), 2);
        EXPECT_EQ(std::string(buffer.bufferName), name) << "length " << length;
    }
}

TEST(TraceBufferDeathTest, NumberOfRecordsMustBeANonZeroPowerOfTwo)
{
    const std::string message =
        escapeRegex("Assertion `(numEntries != 0) && !(numEntries & (numEntries - 1))' failed");
    EXPECT_DEATH(TraceBuffer(1, nullptr, 0), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, 3), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, 6), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, 12), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, 1000), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, INT_MAX), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, -4), message);
    EXPECT_DEATH(TraceBuffer(1, nullptr, -1), message);
    char name[] = "named";
    EXPECT_DEATH(TraceBuffer(1, name, 5), message);
}

TEST(TraceBuffer, PowersOfTwoAreAccepted)
{
    for (int n = 1; n <= 4096; n *= 2) {
        TraceBuffer buffer(1, nullptr, n);
        EXPECT_EQ(buffer.numEntries, n);
        EXPECT_EQ(buffer.entries[n - 1].word3, 0u);
    }
}

TEST(TraceBuffer, HugeRingFailsToAllocateOn32Bit)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "16 GiB ring: only meaningful where 16 x 2^30 bytes overflow size_t";
    // 2^30 records of 16 bytes do not fit a 32-bit address space: the
    // allocation must fail rather than wrap to a small ring.
    EXPECT_THROW(TraceBuffer(1, nullptr, 1 << 30), std::bad_alloc);
    char name[] = "a buffer that cannot be";
    EXPECT_THROW(TraceBuffer(2, name, 1 << 30), std::bad_alloc);

    // The name allocated before the ring must not leak on the way out:
    // a thousand failed constructions leave the heap as it was.
    size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 1000; ++i) {
        try {
            TraceBuffer buffer(3, name, 1 << 30);
            ADD_FAILURE() << "constructed";
        } catch (const std::bad_alloc&) {
        }
    }
    size_t after = mallinfo2().uordblks;
    EXPECT_LT(after > before ? after - before : 0, 1000u) << "bytes still allocated";
}

// ---------------------------------------------------------------------------
// The ring

TEST(TraceBuffer, NewBufferHasNoCurrentEntryAndWalksSlotZero)
{
    TraceBuffer buffer(1, nullptr, 4);
    EXPECT_EQ(buffer.getCurrentEntry(), nullptr);
    int cursor = 99;
    TraceEntry* first = buffer.getFirstEntry(cursor);
    EXPECT_EQ(first, &buffer.entries[0]);
    EXPECT_EQ(cursor, 0);
    EXPECT_EQ(first->id, 0);
    EXPECT_EQ(first->word1, 0u);
    EXPECT_EQ(buffer.getNextEntry(cursor), nullptr);
    EXPECT_EQ(cursor, 0);
}

TEST(TraceBuffer, RingOfOne)
{
    TraceBuffer buffer(1, nullptr, 1);
    EXPECT_EQ(buffer.getCurrentEntry(), nullptr);
    TraceEntry* first = buffer.getFreeEntry();
    EXPECT_EQ(first, &buffer.entries[0]);
    EXPECT_TRUE(buffer.wrapped) << "the first hand-out is the last slot";
    EXPECT_EQ(buffer.nextIndex, 0);
    EXPECT_EQ(buffer.getCurrentEntry(), first);
    EXPECT_EQ(walk(buffer), std::vector<int>({0}));
    scribble(first, 1);
    TraceEntry* again = buffer.getFreeEntry();
    EXPECT_EQ(again, first) << "every call hands out the same slot";
    EXPECT_EQ(again->id, 0);
    EXPECT_EQ(again->flags, 0);
    EXPECT_EQ(again->word1 | again->word2 | again->word3, 0u) << "cleared again";
    EXPECT_EQ(buffer.getCurrentEntry(), first);
    EXPECT_EQ(walk(buffer), std::vector<int>({0}));
    EXPECT_EQ(buffer.nextIndex, 0);
    EXPECT_TRUE(buffer.wrapped);
}

TEST(TraceBuffer, RingOfTwo)
{
    TraceBuffer buffer(1, nullptr, 2);
    TraceEntry* a = buffer.getFreeEntry();
    EXPECT_EQ(slotOf(buffer, a), 0);
    EXPECT_FALSE(buffer.wrapped);
    EXPECT_EQ(buffer.nextIndex, 1);
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 0);
    EXPECT_EQ(walk(buffer), std::vector<int>({0}));

    TraceEntry* b = buffer.getFreeEntry();
    EXPECT_EQ(slotOf(buffer, b), 1);
    EXPECT_TRUE(buffer.wrapped);
    EXPECT_EQ(buffer.nextIndex, 0);
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 1);
    EXPECT_EQ(walk(buffer), std::vector<int>({0, 1}));

    TraceEntry* c = buffer.getFreeEntry();
    EXPECT_EQ(slotOf(buffer, c), 0);
    EXPECT_EQ(buffer.nextIndex, 1);
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 0);
    EXPECT_EQ(walk(buffer), std::vector<int>({1, 0}));
}

TEST(TraceBuffer, RingOfFourThreeFourFiveCalls)
{
    TraceBuffer buffer(1, nullptr, 4);
    for (uint32_t i = 1; i <= 3; ++i)
        scribble(buffer.getFreeEntry(), i);
    EXPECT_FALSE(buffer.wrapped);
    EXPECT_EQ(buffer.nextIndex, 3);
    EXPECT_EQ(walk(buffer), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 2);

    scribble(buffer.getFreeEntry(), 4);
    EXPECT_TRUE(buffer.wrapped);
    EXPECT_EQ(buffer.nextIndex, 0);
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 3);
    EXPECT_EQ(walk(buffer), std::vector<int>({0, 1, 2, 3}));

    TraceEntry* fifth = buffer.getFreeEntry();
    EXPECT_EQ(slotOf(buffer, fifth), 0);
    EXPECT_EQ(fifth->id, 0);
    EXPECT_EQ(fifth->flags, 0);
    EXPECT_EQ(fifth->word1 | fifth->word2 | fifth->word3, 0u) << "cleared before reuse";
    EXPECT_EQ(buffer.nextIndex, 1);
    EXPECT_TRUE(buffer.wrapped);
    EXPECT_EQ(walk(buffer), std::vector<int>({1, 2, 3, 0}));
    EXPECT_EQ(slotOf(buffer, buffer.getCurrentEntry()), 0);
    // The untouched records keep their contents.
    EXPECT_EQ(buffer.entries[1].word1, 2u);
    EXPECT_EQ(buffer.entries[3].word1, 4u);
}

// Every ring size 1 to 16 over three laps against a model of the ring: the
// index, the wrap flag, the current record and the walk order, which must
// return the records oldest first (by their stamps).
TEST(TraceBuffer, RingMatchesTheModelOverThreeLaps)
{
    for (int n = 1; n <= 16; n *= 2) {
        TraceBuffer buffer(1, nullptr, n);
        for (int calls = 0; calls <= 3 * n + 1; ++calls) {
            SCOPED_TRACE(testing::Message() << "ring " << n << " after " << calls << " calls");
            EXPECT_EQ(buffer.nextIndex, calls % n);
            EXPECT_EQ(buffer.wrapped, calls >= n);
            TraceEntry* current = buffer.getCurrentEntry();
            if (calls == 0) {
                EXPECT_EQ(current, nullptr);
            } else {
                EXPECT_EQ(slotOf(buffer, current), (calls - 1) % n);
                ASSERT_NE(current, nullptr);
                EXPECT_EQ(current->word1, static_cast<uint32_t>(calls));
            }
            std::vector<int> expected;
            if (calls < n) {
                for (int i = 0; i < (calls == 0 ? 1 : calls); ++i)
                    expected.push_back(i);
            } else {
                for (int i = 0; i < n; ++i)
                    expected.push_back((calls + i) % n);
            }
            std::vector<int> slots = walk(buffer);
            EXPECT_EQ(slots, expected);
            if (calls > 0) {
                uint32_t previous = 0;
                for (int slot : slots) {
                    EXPECT_GT(buffer.entries[slot].word1, previous) << "oldest first";
                    previous = buffer.entries[slot].word1;
                }
                EXPECT_EQ(previous, static_cast<uint32_t>(calls)) << "newest last";
            }
            TraceEntry* entry = buffer.getFreeEntry();
            EXPECT_EQ(slotOf(buffer, entry), calls % n);
            EXPECT_EQ(entry->id, 0);
            EXPECT_EQ(entry->flags, 0);
            EXPECT_EQ(entry->word1 | entry->word2 | entry->word3, 0u);
            scribble(entry, static_cast<uint32_t>(calls + 1));
        }
    }
}

TEST(TraceBuffer, WalkCursorAtTheEnd)
{
    // Not wrapped: the end of the walk leaves the cursor where it was.
    TraceBuffer open(1, nullptr, 4);
    open.getFreeEntry();
    open.getFreeEntry();
    open.getFreeEntry();
    int cursor = 2;
    EXPECT_EQ(open.getNextEntry(cursor), nullptr);
    EXPECT_EQ(cursor, 2);
    cursor = 0;
    EXPECT_EQ(open.getNextEntry(cursor), &open.entries[1]);
    EXPECT_EQ(cursor, 1);

    // Wrapped: the cursor moves on and is stored back, even at the end.
    TraceBuffer full(1, nullptr, 4);
    for (int i = 0; i < 5; ++i)
        full.getFreeEntry();
    int c = -1;
    EXPECT_EQ(full.getFirstEntry(c), &full.entries[1]);
    EXPECT_EQ(c, 1);
    EXPECT_EQ(full.getNextEntry(c), &full.entries[2]);
    EXPECT_EQ(full.getNextEntry(c), &full.entries[3]);
    EXPECT_EQ(full.getNextEntry(c), &full.entries[0]);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(full.getNextEntry(c), nullptr);
    EXPECT_EQ(c, 1) << "back at the oldest record";
}

TEST(TraceBuffer, GetCurrentEntryDoesNotMoveTheRing)
{
    TraceBuffer buffer(1, nullptr, 4);
    TraceEntry* a = buffer.getFreeEntry();
    scribble(a, 5);
    EXPECT_EQ(buffer.getCurrentEntry(), a);
    EXPECT_EQ(buffer.getCurrentEntry(), a);
    EXPECT_EQ(buffer.nextIndex, 1);
    EXPECT_EQ(a->word1, 5u) << "not cleared";
}

// ---------------------------------------------------------------------------
// dump

TEST(TraceBuffer, DumpOfANewTwoRecordBuffer)
{
    char name[] = "two";
    TraceBuffer buffer(3, name, 2);
    MemStream out;
    buffer.dump(out.get());
    EXPECT_EQ(out.text(),
              "bufferId 3 bufferName two numEntries 2, size bytes 56 nextIndex 0, wrapped false\n"
              "    0: id 00000 flags 0x0000 0x00000000 0x00000000 0x00000000 \n"
              "    1: id 00000 flags 0x0000 0x00000000 0x00000000 0x00000000 \n");
}

TEST(TraceBuffer, DumpAfterWritesListsSlotsInSlotOrder)
{
    TraceBuffer buffer(7, nullptr, 2);
    TraceEntry* a = buffer.getFreeEntry();
    a->id = 5;
    a->flags = TRACE_ENTRY_BEGIN | TRACE_ENTRY_PORT;
    a->word1 = 0x655f1234;
    a->word2 = 0x0001e240;
    a->word3 = 3;
    {
        MemStream out;
        buffer.dump(out.get());
        EXPECT_EQ(out.text(),
                  "bufferId 7 bufferName Trace Buffer 7 numEntries 2, size bytes 56 nextIndex 1, "
                  "wrapped false\n"
                  "    0: id 00005 flags 0x0009 0x655f1234 0x0001e240 0x00000003 \n"
                  "    1: id 00000 flags 0x0000 0x00000000 0x00000000 0x00000000 \n");
    }
    TraceEntry* b = buffer.getFreeEntry();
    b->id = 65535;
    b->flags = 0x7f;
    b->word1 = 0xffffffff;
    b->word2 = 0x80000000;
    b->word3 = 0xabcdef01;
    TraceEntry* c = buffer.getFreeEntry();   // overwrites slot 0
    c->id = 1023;
    c->flags = TRACE_ENTRY_END | TRACE_ENTRY_RX;
    c->word1 = 0x22fffffc;
    {
        MemStream out;
        buffer.dump(out.get());
        EXPECT_EQ(out.text(),
                  "bufferId 7 bufferName Trace Buffer 7 numEntries 2, size bytes 56 nextIndex 1, "
                  "wrapped true\n"
                  "    0: id 01023 flags 0x0022 0x22fffffc 0x00000000 0x00000000 \n"
                  "    1: id 65535 flags 0x007f 0xffffffff 0x80000000 0xabcdef01 \n");
    }
}

TEST(TraceBuffer, DumpHeaderSizeAndSlotNumbers)
{
    TraceBuffer buffer(-2, nullptr, 1024);
    MemStream out;
    buffer.dump(out.get());
    std::string text = out.text();
    std::string header =
        "bufferId -2 bufferName Trace Buffer -2 numEntries 1024, size bytes 16408 nextIndex 0, "
        "wrapped false\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    // 1024 record lines of 63 characters; the slot number right-aligned in
    // five columns.
    EXPECT_EQ(text.size(), header.size() + 1024u * 63u);
    EXPECT_NE(text.find("\n    9: id 00000"), std::string::npos);
    EXPECT_NE(text.find("\n   10: id 00000"), std::string::npos);
    EXPECT_NE(text.find("\n  999: id 00000"), std::string::npos);
    EXPECT_NE(text.find("\n 1023: id 00000 flags 0x0000 0x00000000 0x00000000 0x00000000 \n"),
              std::string::npos);
}

TEST(TraceBuffer, DumpWithSixDigitSlotNumbers)
{
    TraceBuffer buffer(1, nullptr, 1 << 17);
    buffer.entries[100000].id = 9;
    MemStream out;
    buffer.dump(out.get());
    std::string text = out.text();
    EXPECT_NE(text.find("size bytes 2097176 "), std::string::npos);
    EXPECT_NE(text.find("\n99999: id 00000"), std::string::npos);
    EXPECT_NE(text.find("\n100000: id 00009 flags 0x0000 "), std::string::npos)
        << "%5d widens for larger numbers";
}

TEST(TraceBuffer, DumpToNullStreamWritesNothing)
{
    TraceBuffer buffer(1, nullptr, 2);
    buffer.dump(nullptr);
    SUCCEED();
}

TEST(TraceBuffer, DumpWithoutRecordArray)
{
    char name[] = "bare";
    TraceBuffer buffer(4, name, 4);
    TraceEntry* saved = buffer.entries;
    buffer.entries = nullptr;
    MemStream out;
    buffer.dump(out.get());
    buffer.entries = saved;
    EXPECT_EQ(out.text(),
              "bufferId 4 bufferName bare numEntries 4, size bytes 88 nextIndex 0, wrapped false\n"
              "entries null\n");
}
