// Element<Item> and List<E>.
#include <gtest/gtest.h>

#include <string>

#include "list_t.h"

namespace {

struct Item {  // counts the items alive
    static int alive;
    int value;
    explicit Item(int v) : value(v) { ++alive; }
    ~Item() { --alive; }
};
int Item::alive = 0;

using ItemElement = Element<Item>;
using ItemList = List<ItemElement>;

ItemElement* owned(int value)
{
    return new ItemElement(new Item(value), true);
}

// The item values head to tail ("123"); the backward walk and the count must agree.
std::string order(ItemList& list)
{
    std::string forward, backward;
    for (ItemElement* e = list.get_first(); e != nullptr; e = e->get_next())
        forward += std::to_string(e->item()->value);
    for (ItemElement* e = list.get_last(); e != nullptr; e = e->get_prev())
        backward.insert(0, std::to_string(e->item()->value));
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(list.size(), static_cast<int>(forward.size()));
    return forward;
}

// A list "1234" of owned items.
struct ListTest : testing::Test {
    void SetUp() override
    {
        for (ItemElement* e : elements)
            list.add(e);
    }
    ItemElement* elements[4] = {owned(1), owned(2), owned(3), owned(4)};
    ItemList list;
};

TEST(ElementId, PerTypeCounterSkipsTheSentinelIdsAndWrapsToTwo)
{
    using ShortElement = Element<short>;  // item types of the test's own: ids hold in any order
    ShortElement::nextid = Element<long>::nextid = 2;
    List<ShortElement> list;  // its sentinels take ids 0 and 1 and leave the counter alone
    EXPECT_EQ(list.headSentinel_m.id(), 0);
    EXPECT_EQ(list.tailSentinel_m.id(), 1);
    EXPECT_EQ(ShortElement(nullptr, false).id(), 2);
    EXPECT_EQ(Element<long>(nullptr, false).id(), 2) << "another item type counts on its own";
    int wrong = 0;
    for (int id = 3; id <= 65535; ++id)
        wrong += ShortElement(nullptr, false).id() != id;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ShortElement(nullptr, false).id(), 2) << "after 65535 comes 2, never 0 or 1";
}

TEST(List, AddHeadInsertBeforeAndAfterLinkInPlace)
{
    Item five(5);  // borrowed by a non-owning element
    ItemList list;
    ItemElement* three = owned(3);
    ItemElement* four = owned(4);
    list.add_head(owned(2));  // on an empty list
    list.add(four);
    list.add_head(owned(1));
    list.insert_before(three, four);
    list.insert_after(new ItemElement(&five, false), four);
    EXPECT_EQ(order(list), "12345");
    EXPECT_EQ(three->index(), 3);
}

TEST_F(ListTest, RemoveUnlinksWithoutDeleting)
{
    ItemElement* three = elements[2];
    int alive = Item::alive;
    EXPECT_EQ(list.remove(three->id()), three);
    EXPECT_EQ(list.remove(three->id()), nullptr);
    EXPECT_EQ(three->prev_m, nullptr);
    EXPECT_EQ(three->next_m, nullptr);
    list.remove(elements[0]);
    EXPECT_EQ(order(list), "24");
    EXPECT_EQ(elements[3]->index(), 2);
    EXPECT_EQ(Item::alive, alive);
    delete three;
    delete elements[0];
}

TEST_F(ListTest, FindNeverAnswersTheSentinelIds)
{
    elements[1]->id_m = 1;
    EXPECT_EQ(list.find(0), nullptr);
    EXPECT_EQ(list.find(1), nullptr);
    EXPECT_EQ(list.find(elements[2]->id()), elements[2]);
}

TEST_F(ListTest, TakeAppendsAndEmptiesTheOtherList)
{
    ItemList other;
    other.add(owned(5));
    other.add(owned(6));
    list.take(&other);
    list.take(nullptr);
    EXPECT_EQ(order(list), "123456");
    EXPECT_EQ(order(other), "");
}

TEST(List, PurgeAndDestructorDeleteOnlyOwnedItemsUnlessPurgeTrue)
{
    Item kept(9);
    int before = Item::alive;
    {
        ItemList list;
        list.add(owned(1));
        list.add(new ItemElement(&kept, false));
        list.purge_list(false);
        EXPECT_EQ(order(list), "");
        EXPECT_EQ(Item::alive, before) << "the owned item died, the borrowed one lives";
        list.add(owned(2));
        list.add(new ItemElement(new Item(3), false));
        list.purge_list(true);
        EXPECT_EQ(Item::alive, before) << "purge_list(true) deletes non-owned items too";
        list.add(owned(4));
        list.add(new ItemElement(&kept, false));
    }
    EXPECT_EQ(Item::alive, before);
}

TEST(Element, ReplacingTheItemDeletesTheOldOneOnlyIfOwned)
{
    Item kept(1), other(2);
    int before = Item::alive;
    ItemElement owning(new Item(3));  // owning by default
    owning.item(new Item(4));
    EXPECT_EQ(Item::alive, before + 1) << "item 3 was deleted";
    ItemElement borrowing(&kept, false);
    borrowing.item(&other);
    EXPECT_EQ(Item::alive, before + 1);
    EXPECT_EQ(borrowing.item(), &other);
}

TEST(ElementDeathTest, DestroyingALinkedElementStopsTheProcess)
{
    ItemList list;
    ItemElement* linked = owned(1);
    list.add(linked);
    EXPECT_DEATH(delete linked, "destroyed while still linked.*Assertion `0' failed");
}

}  // namespace
