// The Array template behind the step registry.
#include <gtest/gtest.h>

#include <signal.h>

#include "array_t.h"

using A = Array<int*>;
static int cells[16];

TEST(Array, GrowDoublesAndSizeResizesKeepingTheLeadingSlots)
{
    A a;
    const size_t grows[][2] = {{0, 1}, {2, 2}, {3, 4}, {9, 16}, {16, 16}, {1, 16}};
    for (const auto& g : grows) {
        a.grow(g[0]);
        EXPECT_EQ(a.size(), g[1]) << "grow(" << g[0] << ")";
    }
    for (int i = 0; i < 16; ++i)
        a[i] = &cells[i];
    a.size(3);   // shrinks
    a.grow(4);   // doubles from the current size
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a[2], &cells[2]);
    EXPECT_EQ(a[3], nullptr) << "dropped and new slots read null";
    a.size(0);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(a.data_m, nullptr);
}

TEST(Array, AssignmentCopiesAndSelfAssignmentChangesNothing)
{
    A a(2), b(5);
    a[1] = &cells[1];
    EXPECT_EQ(&(b = a), &b);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_NE(b.data_m, a.data_m);
    EXPECT_EQ(b[1], &cells[1]);
    int** storage = a.data_m;
    A& alias = a;
    EXPECT_EQ(&(a = alias), &a);
    EXPECT_EQ(a.data_m, storage);
    EXPECT_EQ(a[1], &cells[1]);
}

TEST(ArrayDeathTest, IndexOutOfRangeAborts)
{
    A a(4);
    EXPECT_EXIT(a[4] = nullptr, testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(a[-1] = nullptr, testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(A()[0] = nullptr, testing::KilledBySignal(SIGABRT), "");
}
