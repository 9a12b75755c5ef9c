// Element<Item> and List<E>.
#include <gtest/gtest.h>

#include <string>

#include "list_t.h"

namespace {

struct Item {   // counts the items alive
    static int alive;
    int value;
    explicit Item(int v) : value(v) { ++alive; }
    ~Item() { --alive; }
};
int Item::alive = 0;

using E = Element<Item>;
using L = List<E>;

E* el(int value, bool owning = true) { return new E(new Item(value), owning); }

// The item values head to tail ("123"); the backward walk and the count must agree.
std::string order(L& list)
{
    std::string forward, backward;
    for (E* e = list.get_first(); e != nullptr; e = e->get_next())
        forward += std::to_string(e->item()->value);
    for (E* e = list.get_last(); e != nullptr; e = e->get_prev())
        backward.insert(0, std::to_string(e->item()->value));
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(list.size(), static_cast<int>(forward.size()));
    return forward;
}

}  // namespace

TEST(ElementId, PerTypeCounterSkipsTheSentinelIdsAndWrapsToTwo)
{
    using A = Element<short>;   // item types of the test's own: its ids hold in any order
    using B = Element<long>;
    A::nextid = B::nextid = 2;
    List<A> list;   // its sentinels take ids 0 and 1 and leave the counter alone
    EXPECT_EQ(list.headSentinel_m.id(), 0);
    EXPECT_EQ(list.tailSentinel_m.id(), 1);
    A a(nullptr, false);
    B b(nullptr, false);
    EXPECT_EQ(a.id(), 2);
    EXPECT_EQ(b.id(), 2) << "another item type counts on its own";
    int wrong = 0;
    for (int id = 3; id <= 65535; ++id)
        wrong += A(nullptr, false).id() != id;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(A(nullptr, false).id(), 2) << "after 65535 comes 2, never 0 or 1";
}

TEST(List, AddInsertIndexFindRemoveAndTake)
{
    Item five(5);   // borrowed by a non-owning element
    L list, other;
    E *a = el(1), *b = el(2), *c = el(3), *d = el(4);
    list.add_head(b);   // on an empty list
    list.add(d);
    list.add_head(a);
    list.insert_before(c, d);
    list.insert_after(new E(&five, false), d);
    EXPECT_EQ(order(list), "12345");
    EXPECT_EQ(c->index(), 3);
    b->id_m = 1;   // find(0) and find(1) never answer, even for an element carrying the id
    EXPECT_EQ(list.find(0), nullptr);
    EXPECT_EQ(list.find(1), nullptr);
    EXPECT_EQ(list.remove(c->id()), c) << "remove(id) unlinks without deleting";
    EXPECT_EQ(list.remove(c->id()), nullptr);
    EXPECT_TRUE(c->prev_m == nullptr && c->next_m == nullptr);
    list.remove(a);
    EXPECT_EQ(order(list), "245");
    EXPECT_EQ(d->index(), 2);
    other.add(a);
    other.add(c);
    list.take(&other);
    list.take(nullptr);
    EXPECT_EQ(order(list), "24513");
    EXPECT_EQ(order(other), "");
}

TEST(List, PurgeAndDestructorDeleteOnlyOwnedItemsUnlessPurgeTrue)
{
    Item kept(9);
    int before = Item::alive;
    {
        L list;
        list.add(el(1));
        list.add(new E(&kept, false));
        list.purge_list(false);
        EXPECT_EQ(order(list), "");
        EXPECT_EQ(Item::alive, before) << "the owned item died, the borrowed one lives";
        list.add(el(2));
        list.add(el(3, false));
        list.purge_list(true);
        EXPECT_EQ(Item::alive, before) << "purge_list(true) deletes non-owned items too";
        list.add(el(4));
        list.add(new E(&kept, false));
    }
    EXPECT_EQ(Item::alive, before);
}

TEST(Element, ReplacingTheItemDeletesTheOldOneOnlyIfOwned)
{
    Item kept(1), other(2);
    int before = Item::alive;
    E owning(new Item(3));
    owning.item(new Item(4));
    EXPECT_EQ(Item::alive, before + 1) << "item 3 was deleted";
    E borrowing(&kept, false);
    borrowing.item(&other);
    EXPECT_EQ(Item::alive, before + 1);
    EXPECT_EQ(borrowing.item(), &other);
}

TEST(ElementDeathTest, DestroyingALinkedElementStopsTheProcess)
{
    EXPECT_DEATH({ L list; E* a = el(1); list.add(a); delete a; }, "Assertion `0' failed");
}
