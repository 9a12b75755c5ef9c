// The Array template behind the step registry.
#include <gtest/gtest.h>

#include <signal.h>

#include "array_t.h"

namespace {

using A = Array<int*>;

int cells[64];

int* p(int i) { return &cells[i]; }

// Fills every slot i with &cells[i + offset].
void fill(A& a, int offset = 0)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[static_cast<int>(i)] = p(static_cast<int>(i) + offset);
}

}  // namespace

TEST(Array, DefaultHasNoSlotsAndNoStorage)
{
    A a;
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(a.size_m, 0u);
    EXPECT_EQ(a.data_m, nullptr);
}

TEST(Array, SizedConstructorHoldsNulls)
{
    A a(5);
    ASSERT_EQ(a.size(), 5u);
    ASSERT_NE(a.data_m, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a[i], nullptr) << i;
    A none(0);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.data_m, nullptr);
}

TEST(Array, GrowDoublesFromOne)
{
    A a;
    a.grow(1);
    EXPECT_EQ(a.size(), 1u);
    a.grow(2);
    EXPECT_EQ(a.size(), 2u);
    a.grow(3);
    EXPECT_EQ(a.size(), 4u);
    a.grow(5);
    EXPECT_EQ(a.size(), 8u);
    a.grow(9);
    EXPECT_EQ(a.size(), 16u);
    a.grow(100);
    EXPECT_EQ(a.size(), 128u);
    a.grow(1024);
    EXPECT_EQ(a.size(), 1024u);

    A b;
    b.grow(0);
    EXPECT_EQ(b.size(), 1u) << "an empty array starts its count at 1";
    A c;
    c.grow(17);
    EXPECT_EQ(c.size(), 32u);
}

TEST(Array, GrowDoublesFromTheCurrentSize)
{
    A a(3);
    a.grow(4);
    EXPECT_EQ(a.size(), 6u);
    a.grow(7);
    EXPECT_EQ(a.size(), 12u);
    a.grow(25);
    EXPECT_EQ(a.size(), 48u);
}

TEST(Array, GrowKeepsTheElementsAndNullsTheNewSlots)
{
    A a(4);
    fill(a);
    a.grow(5);
    ASSERT_EQ(a.size(), 8u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a[i], p(i)) << i;
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(a[i], nullptr) << i;
}

TEST(Array, GrowWithinTheSizeChangesNothing)
{
    A a(8);
    fill(a);
    int** storage = a.data_m;
    for (size_t n : {0u, 1u, 7u, 8u}) {
        a.grow(n);
        EXPECT_EQ(a.size(), 8u) << n;
        EXPECT_EQ(a.data_m, storage) << "no reallocation for " << n;
    }
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(a[i], p(i));
}

TEST(Array, SizeZeroEmptiesTheArray)
{
    A a(4);
    fill(a);
    a.size(0);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(a.data_m, nullptr);
    a.size(0);   // again, on an empty array
    EXPECT_EQ(a.size(), 0u);
    a.size(2);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0], nullptr);
    EXPECT_EQ(a[1], nullptr);
}

TEST(Array, SizeSameCountChangesNothing)
{
    A a(4);
    fill(a);
    int** storage = a.data_m;
    a.size(4);
    EXPECT_EQ(a.data_m, storage);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a[i], p(i));
}

TEST(Array, ShrinkKeepsTheLeadingElements)
{
    A a(8);
    fill(a);
    a.size(3);
    ASSERT_EQ(a.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a[i], p(i)) << i;
    a.size(5);   // growing again: the dropped slots come back as null
    ASSERT_EQ(a.size(), 5u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a[i], p(i)) << i;
    EXPECT_EQ(a[3], nullptr);
    EXPECT_EQ(a[4], nullptr);
}

TEST(Array, ResizeToAnyCountNotOnlyPowersOfTwo)
{
    A a;
    a.size(7);
    EXPECT_EQ(a.size(), 7u);
    fill(a);
    a.size(13);
    ASSERT_EQ(a.size(), 13u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(a[i], p(i));
    for (int i = 7; i < 13; ++i)
        EXPECT_EQ(a[i], nullptr);
}

TEST(Array, AssignmentCopiesIntoFreshStorage)
{
    A a(6);
    fill(a);
    A b(2);
    fill(b, 30);
    b = a;
    ASSERT_EQ(b.size(), 6u);
    EXPECT_NE(b.data_m, a.data_m);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(b[i], p(i));
    b[0] = p(40);
    EXPECT_EQ(a[0], p(0)) << "the copy is independent";

    A empty;
    b = empty;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.data_m, nullptr);

    A c;
    c = a;
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(c[5], p(5));
}

TEST(Array, AssignmentReturnsThis)
{
    A a(2);
    A b;
    A* result = &(b = a);
    EXPECT_EQ(result, &b);
    A c;
    A d;
    c = d = a;   // chains
    EXPECT_EQ(c.size(), 2u);
    EXPECT_EQ(d.size(), 2u);
}

TEST(Array, SelfAssignmentLeavesTheArrayUnchanged)
{
    A a(4);
    fill(a);
    int** storage = a.data_m;
    A& alias = a;
    A* result = &(a = alias);
    EXPECT_EQ(result, &a);
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a.data_m, storage);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a[i], p(i));

    A empty;
    A& emptyAlias = empty;
    empty = emptyAlias;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.data_m, nullptr);
}

TEST(Array, IndexGivesAReference)
{
    A a(3);
    a[1] = p(11);
    int*& slot = a[1];
    EXPECT_EQ(slot, p(11));
    slot = p(12);
    EXPECT_EQ(a[1], p(12));
    EXPECT_EQ(a.data_m[1], p(12));
}

TEST(ArrayDeathTest, IndexOutOfRangeAborts)
{
    EXPECT_EXIT(
        {
            A a(4);
            a[4] = nullptr;
        },
        testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(
        {
            A a(4);
            a[-1] = nullptr;
        },
        testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(
        {
            A a;
            a[0] = nullptr;
        },
        testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(
        {
            A a(4);
            a.size(2);
            a[2] = nullptr;
        },
        testing::KilledBySignal(SIGABRT), "");
}

TEST(ArrayDeathTest, DebugAbortAborts)
{
    EXPECT_EXIT(
        {
            A a;
            a.debug_abort(7);
        },
        testing::KilledBySignal(SIGABRT), "");
}
