// The Array template behind the step registry.
#include <gtest/gtest.h>

#include <signal.h>

#include "array_t.h"

namespace {

using PtrArray = Array<int*>;
int cells[8];

TEST(Array, GrowDoublesUntilTheRequestFitsAndNeverShrinks)
{
    PtrArray array;
    const size_t rows[][2] = {{0, 1}, {2, 2}, {3, 4}, {9, 16}, {16, 16}, {1, 16}};
    for (const auto& [request, size] : rows) {
        array.grow(request);
        EXPECT_EQ(array.size(), size) << "grow(" << request << ")";
    }
}

TEST(Array, GrowKeepsEverySlotFromSlotZeroAndNewSlotsReadNull)
{
    PtrArray array(3);
    for (int i = 0; i < 3; ++i)
        array[i] = &cells[i];
    array.grow(4);  // doubles from the current size
    ASSERT_EQ(array.size(), 6u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(array[i], &cells[i]) << i;
    EXPECT_EQ(array[3], nullptr);
}

TEST(Array, ShrinkingDropsTheTailAndSizeZeroFreesTheStorage)
{
    PtrArray array(4);
    array[3] = &cells[3];
    array.size(3);
    array.size(4);
    EXPECT_EQ(array[3], nullptr);
    array.size(0);
    EXPECT_EQ(array.size(), 0u);
    EXPECT_EQ(array.data_m, nullptr);
}

TEST(Array, AssignmentCopiesTheSlots)
{
    PtrArray source(2), copy(5);
    source[1] = &cells[1];
    EXPECT_EQ(&(copy = source), &copy);
    ASSERT_EQ(copy.size(), 2u);
    EXPECT_NE(copy.data_m, source.data_m);
    EXPECT_EQ(copy[1], &cells[1]);
}

TEST(Array, SelfAssignmentChangesNothing)
{
    PtrArray array(2);
    array[1] = &cells[1];
    int** storage = array.data_m;
    PtrArray& alias = array;
    EXPECT_EQ(&(array = alias), &array);
    EXPECT_EQ(array.data_m, storage);
    EXPECT_EQ(array[1], &cells[1]);
}

TEST(ArrayDeathTest, IndexOutOfRangeAborts)
{
    PtrArray array(4);
    EXPECT_EXIT(array[4] = nullptr, testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(array[-1] = nullptr, testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(PtrArray()[0] = nullptr, testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
