// Element<Item> and List<E>.
//
// Element ids come from a counter kept per item type, shared by every list
// of that type in the process. Each test that looks at absolute ids uses an
// item type of its own (Probe<N>), so the tests hold whatever order they run
// in, alone or all in one process.
#include <gtest/gtest.h>

#include <vector>

#include "list_t.h"
#include "traceStep.h"

namespace {

// An item that counts how many of its kind are alive.
template <int N>
struct Probe {
    static int alive;
    int value;
    explicit Probe(int v = 0) : value(v) { ++alive; }
    ~Probe() { --alive; }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
};
template <int N>
int Probe<N>::alive = 0;

using Item = Probe<0>;
using E = Element<Item>;
using L = List<E>;

// Checks every invariant of the list against the expected order: count,
// first/last, the forward walk with get_next, the backward walk with
// get_prev, the raw sentinel chain in both directions, and index().
template <class Elem>
void expectChain(List<Elem>& list, const std::vector<Elem*>& expected)
{
    ASSERT_EQ(list.size(), static_cast<int>(expected.size()));
    EXPECT_EQ(list.count_m, static_cast<int>(expected.size()));
    EXPECT_EQ(list.is_empty(), expected.empty());
    EXPECT_EQ(list.head_m, &list.headSentinel_m);
    EXPECT_EQ(list.tail_m, &list.tailSentinel_m);
    EXPECT_EQ(list.headSentinel_m.id(), 0);
    EXPECT_EQ(list.tailSentinel_m.id(), 1);
    EXPECT_EQ(list.headSentinel_m.prev_m, nullptr);
    EXPECT_EQ(list.tailSentinel_m.next_m, nullptr);
    EXPECT_EQ(list.headSentinel_m.item_m, nullptr);
    EXPECT_EQ(list.tailSentinel_m.item_m, nullptr);
    if (expected.empty()) {
        EXPECT_EQ(list.get_first(), nullptr);
        EXPECT_EQ(list.get_last(), nullptr);
        EXPECT_EQ(list.headSentinel_m.next_m, &list.tailSentinel_m);
        EXPECT_EQ(list.tailSentinel_m.prev_m, &list.headSentinel_m);
        return;
    }
    EXPECT_EQ(list.get_first(), expected.front());
    EXPECT_EQ(list.get_last(), expected.back());

    std::vector<Elem*> forward;
    for (Elem* e = list.get_first(); e != nullptr && forward.size() <= expected.size();
         e = e->get_next())
        forward.push_back(e);
    EXPECT_EQ(forward, expected);

    std::vector<Elem*> backward;
    for (Elem* e = list.get_last(); e != nullptr && backward.size() <= expected.size();
         e = e->get_prev())
        backward.insert(backward.begin(), e);
    EXPECT_EQ(backward, expected);

    // The raw links: head sentinel -> elements -> tail sentinel and back.
    Elem* node = &list.headSentinel_m;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(node->next_m, expected[i]) << "forward link " << i;
        ASSERT_EQ(expected[i]->prev_m, node) << "backward link " << i;
        node = node->next_m;
        EXPECT_EQ(node->index(), static_cast<int>(i) + 1);
    }
    EXPECT_EQ(node->next_m, &list.tailSentinel_m);
    EXPECT_EQ(list.tailSentinel_m.prev_m, node);
}

// Each absolute-id test has an item type of its own. The first time a test
// runs in the process, the counter of its type must still hold its initial
// value 2; a repeated run (--gtest_repeat) starts it from 2 again.
template <class T>
void freshCounter()
{
    static bool checked = false;
    if (!checked) {
        checked = true;
        EXPECT_EQ(Element<T>::nextid, 2) << "initial value of a type's counter";
    }
    Element<T>::nextid = 2;
}

}  // namespace

// ---------------------------------------------------------------------------
// Element ids

TEST(ElementId, FirstIdsOfATypeAreTwoThenThree)
{
    using T = Probe<100>;
    freshCounter<T>();
    T a, b, c;
    Element<T> first(&a, false);
    Element<T> second(&b);
    Element<T>* third = Element<T>::alloc(&c, false);
    EXPECT_EQ(first.id(), 2);
    EXPECT_EQ(second.id(), 3);
    EXPECT_EQ(third->id(), 4);
    EXPECT_EQ(Element<T>::nextid, 5);
    delete third;
    second.delete_item() = false;   // b lives on the stack
}

TEST(ElementId, CounterIsPerItemType)
{
    using A = Probe<101>;
    using B = Probe<102>;
    freshCounter<A>();
    freshCounter<B>();
    A a;
    B b;
    Element<A> a1(&a, false);
    Element<A> a2(&a, false);
    Element<B> b1(&b, false);
    EXPECT_EQ(a1.id(), 2);
    EXPECT_EQ(a2.id(), 3);
    EXPECT_EQ(b1.id(), 2) << "another item type has its own counter";
}

TEST(ElementId, CounterIsSharedByAllListsOfAType)
{
    using T = Probe<103>;
    freshCounter<T>();
    T item;
    List<Element<T>> one;
    List<Element<T>> two;
    Element<T>* a = new Element<T>(&item, false);
    Element<T>* b = new Element<T>(&item, false);
    Element<T>* c = new Element<T>(&item, false);
    one.add(a);
    two.add(b);
    one.add(c);
    EXPECT_EQ(a->id(), 2);
    EXPECT_EQ(b->id(), 3);
    EXPECT_EQ(c->id(), 4);
    EXPECT_EQ(one.find(3), nullptr) << "id 3 lives in the other list";
    EXPECT_EQ(two.find(3), b);
}

TEST(ElementId, SentinelsAndListsDoNotAdvanceTheCounter)
{
    using T = Probe<104>;
    freshCounter<T>();
    Element<T> sentinelHead(0);
    Element<T> sentinelTail(1);
    Element<T> other(42);
    EXPECT_EQ(sentinelHead.id(), 0);
    EXPECT_EQ(sentinelTail.id(), 1);
    EXPECT_EQ(other.id(), 42);
    EXPECT_EQ(other.item(), nullptr);
    EXPECT_TRUE(other.delete_item()) << "a sentinel is built owning (and holds no item)";
    EXPECT_EQ(other.prev_m, nullptr);
    EXPECT_EQ(other.next_m, nullptr);
    {
        List<Element<T>> a;
        List<Element<T>> b;
    }
    EXPECT_EQ(Element<T>::nextid, 2);
    T item;
    Element<T> first(&item, false);
    EXPECT_EQ(first.id(), 2);
}

TEST(ElementId, WrapsAfter65535ToTwo)
{
    using T = Probe<105>;
    freshCounter<T>();
    T item;
    unsigned short last = 0;
    for (int expected = 2; expected <= 65535; ++expected) {
        Element<T> e(&item, false);
        if (e.id() != expected) {
            ADD_FAILURE() << "element " << expected - 1 << " got id " << e.id();
            return;
        }
        last = e.id();
    }
    EXPECT_EQ(last, 65535);
    EXPECT_EQ(Element<T>::nextid, 0) << "the 16-bit counter wrapped";
    Element<T> afterWrap(&item, false);
    EXPECT_EQ(afterWrap.id(), 2) << "0 and 1 are never handed to an ordinary element";
    Element<T> next(&item, false);
    EXPECT_EQ(next.id(), 3);
}

TEST(ElementId, CounterAtZeroIsTurnedIntoTwoByBothConstructors)
{
    using T = Probe<106>;
    T item;
    Element<T>::nextid = 0;
    Element<T> a(&item, false);
    EXPECT_EQ(a.id(), 2);
    Element<T>::nextid = 0;
    Element<T>* b = new Element<T>(new T());
    EXPECT_EQ(b->id(), 2);
    Element<T>::nextid = 65535;
    Element<T>* c = Element<T>::alloc(&item, false);
    EXPECT_EQ(c->id(), 65535);
    EXPECT_EQ(Element<T>::nextid, 0);
    delete b;
    delete c;
}

// ---------------------------------------------------------------------------
// Elements

TEST(Element, ConstructorsSetOwnershipAndLinks)
{
    Item* owned = new Item(1);
    Item borrowed(2);
    E owning(owned);
    E nonOwning(&borrowed, false);
    E explicitOwning(new Item(3), true);
    E* allocated = E::alloc(&borrowed, false);
    EXPECT_EQ(owning.item(), owned);
    EXPECT_TRUE(owning.delete_item());
    EXPECT_FALSE(nonOwning.delete_item());
    EXPECT_TRUE(explicitOwning.delete_item());
    EXPECT_FALSE(allocated->delete_item());
    EXPECT_EQ(allocated->item(), &borrowed);
    for (E* e : {&owning, &nonOwning, &explicitOwning, allocated}) {
        EXPECT_EQ(e->prev_m, nullptr);
        EXPECT_EQ(e->next_m, nullptr);
        EXPECT_GE(e->id(), 2);
    }
    delete allocated;
    EXPECT_EQ(borrowed.value, 2);
}

TEST(Element, DestroyingAnUnlinkedElementDeletesOnlyOwnedItems)
{
    int before = Item::alive;
    Item kept(7);
    {
        E owning(new Item(1));
        E nonOwning(&kept, false);
        E empty(static_cast<Item*>(nullptr));
        EXPECT_EQ(Item::alive, before + 2);
    }
    EXPECT_EQ(Item::alive, before + 1) << "only the owned item died";
    EXPECT_EQ(kept.value, 7);
}

TEST(Element, DeleteItemIsAReferenceToTheOwnershipFlag)
{
    int before = Item::alive;
    Item* item = new Item(1);
    {
        E e(item);
        bool& flag = e.delete_item();
        EXPECT_TRUE(flag);
        flag = false;
        EXPECT_FALSE(e.deleteItem_m);
    }
    EXPECT_EQ(Item::alive, before + 1) << "ownership given up before destruction";
    {
        E e(item, false);
        e.delete_item() = true;
    }
    EXPECT_EQ(Item::alive, before) << "ownership taken before destruction";
}

TEST(Element, ReplacingTheItemOfAnOwningElementDeletesTheOldItem)
{
    int before = Item::alive;
    Item* first = new Item(1);
    Item* second = new Item(2);
    {
        E e(first);
        e.item(second);
        EXPECT_EQ(Item::alive, before + 1) << "the first item was deleted";
        EXPECT_EQ(e.item(), second);
        EXPECT_TRUE(e.delete_item()) << "the ownership flag is unchanged";
        e.item(static_cast<Item*>(nullptr));
        EXPECT_EQ(Item::alive, before);
        EXPECT_EQ(e.item(), nullptr);
        Item* third = new Item(3);
        e.item(third);   // replacing a null item deletes nothing
        EXPECT_EQ(Item::alive, before + 1);
    }
    EXPECT_EQ(Item::alive, before);
}

TEST(Element, ReplacingTheItemOfANonOwningElementKeepsTheOldItem)
{
    Item first(1);
    Item second(2);
    int before = Item::alive;
    E e(&first, false);
    e.item(&second);
    EXPECT_EQ(Item::alive, before);
    EXPECT_EQ(e.item(), &second);
    EXPECT_FALSE(e.delete_item());
    EXPECT_EQ(first.value, 1);
}

TEST(ElementDeathTest, DestroyingALinkedElementStopsTheProcess)
{
    EXPECT_DEATH(
        {
            L list;
            Item item;
            E* a = new E(&item, false);
            E* b = new E(&item, false);
            list.add(a);
            list.add(b);
            delete a;
        },
        "Assertion `0' failed");
    // Alone in its list: both neighbours are sentinels, both links non-null.
    EXPECT_DEATH(
        {
            L list;
            E* a = new E(new Item(1));
            list.add(a);
            delete a;
        },
        "Assertion `0' failed");
}

TEST(Element, AnElementWithOneLinkMayBeDestroyed)
{
    // The sentinels pass the check with one null link each; so does any
    // element with a single link.
    Item item;
    E other(&item, false);
    {
        E onlyNext(&item, false);
        onlyNext.next_m = &other;
    }
    {
        E onlyPrev(&item, false);
        onlyPrev.prev_m = &other;
    }
    {
        E sentinel(0);
        sentinel.next_m = &other;
    }
    SUCCEED();
}

TEST(Element, RemovedElementCanBeDestroyed)
{
    int before = Item::alive;
    L list;
    E* a = new E(new Item(1));
    list.add(a);
    list.remove(a);
    EXPECT_EQ(a->prev_m, nullptr);
    EXPECT_EQ(a->next_m, nullptr);
    delete a;
    EXPECT_EQ(Item::alive, before);
}

// ---------------------------------------------------------------------------
// Lists

TEST(List, NewListIsEmpty)
{
    L list;
    expectChain(list, {});
    EXPECT_TRUE(list.is_empty());
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.find(5), nullptr);
    EXPECT_EQ(list.find(2), nullptr);
    EXPECT_EQ(list.remove(static_cast<unsigned short>(2)), nullptr);
    list.purge_list(true);
    list.purge_list(false);
    expectChain(list, {});
}

TEST(List, AddAppends)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    E* c = new E(&item, false);
    list.add(a);
    expectChain(list, {a});
    list.add(b);
    list.add(c);
    expectChain(list, {a, b, c});
    EXPECT_EQ(a->get_prev(), nullptr);
    EXPECT_EQ(c->get_next(), nullptr);
    EXPECT_EQ(a->get_next(), b);
    EXPECT_EQ(c->get_prev(), b);
}

TEST(List, AddHeadOnEmptyListBehavesAsAdd)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    list.add_head(a);
    expectChain(list, {a});
    E* b = new E(&item, false);
    list.add(b);
    expectChain(list, {a, b});
}

TEST(List, AddHeadPutsInFront)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    E* n = new E(&item, false);
    list.add(a);
    list.add(b);
    list.add_head(n);
    expectChain(list, {n, a, b});
    E* m = new E(&item, false);
    list.add_head(m);
    expectChain(list, {m, n, a, b});
}

TEST(List, InsertBeforeAndAfter)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    E* c = new E(&item, false);
    E* d = new E(&item, false);
    E* e = new E(&item, false);
    E* f = new E(&item, false);
    list.add(b);
    list.insert_before(a, b);   // before the first
    expectChain(list, {a, b});
    list.insert_after(d, b);    // after the last
    expectChain(list, {a, b, d});
    list.insert_before(c, d);   // in the middle
    expectChain(list, {a, b, c, d});
    list.insert_after(e, a);    // in the middle
    expectChain(list, {a, e, b, c, d});
    list.insert_after(f, d);
    expectChain(list, {a, e, b, c, d, f});
    EXPECT_EQ(list.get_last(), f);
}

TEST(List, IndexIsOneBasedFromTheHead)
{
    Item item;
    L list;
    E* p = new E(&item, false);
    E* q = new E(&item, false);
    E* r = new E(&item, false);
    list.add(p);
    list.add(q);
    list.add(r);
    EXPECT_EQ(p->index(), 1);
    EXPECT_EQ(q->index(), 2);
    EXPECT_EQ(r->index(), 3);
    list.remove(p);
    EXPECT_EQ(q->index(), 1);
    EXPECT_EQ(r->index(), 2);
    delete p;
}

TEST(List, RemoveUnlinksWithoutDeleting)
{
    int before = Item::alive;
    L list;
    E* a = new E(new Item(1));
    E* b = new E(new Item(2));
    E* c = new E(new Item(3));
    list.add(a);
    list.add(b);
    list.add(c);
    list.remove(b);
    expectChain(list, {a, c});
    EXPECT_EQ(b->prev_m, nullptr);
    EXPECT_EQ(b->next_m, nullptr);
    EXPECT_EQ(Item::alive, before + 3) << "remove deletes nothing";
    list.remove(a);
    expectChain(list, {c});
    list.remove(c);
    expectChain(list, {});
    delete a;
    delete b;
    delete c;
    EXPECT_EQ(Item::alive, before);
}

TEST(List, RemoveById)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    E* c = new E(&item, false);
    list.add(a);
    list.add(b);
    list.add(c);
    unsigned short absent = static_cast<unsigned short>(c->id() + 1);
    EXPECT_EQ(list.remove(absent), nullptr);
    expectChain(list, {a, b, c});
    EXPECT_EQ(list.remove(static_cast<unsigned short>(0)), nullptr);
    EXPECT_EQ(list.remove(static_cast<unsigned short>(1)), nullptr);
    expectChain(list, {a, b, c});

    E* removed = list.remove(b->id());
    EXPECT_EQ(removed, b);
    EXPECT_EQ(b->prev_m, nullptr);
    EXPECT_EQ(b->next_m, nullptr);
    EXPECT_EQ(list.size(), 2);
    expectChain(list, {a, c});
    EXPECT_EQ(list.remove(b->id()), nullptr) << "already removed";
    EXPECT_EQ(list.size(), 2);
    delete removed;
}

TEST(List, FindReturnsTheFirstMatchFromTheHead)
{
    Item item;
    L list;
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    E* c = new E(&item, false);
    list.add(a);
    list.add(b);
    list.add(c);
    EXPECT_EQ(list.find(a->id()), a);
    EXPECT_EQ(list.find(b->id()), b);
    EXPECT_EQ(list.find(c->id()), c);
    // Ids repeat after the counter wraps: the first from the head wins.
    c->id_m = b->id();
    EXPECT_EQ(list.find(b->id()), b);
    E* removed = list.remove(b->id());
    EXPECT_EQ(removed, b);
    EXPECT_EQ(list.find(c->id()), c);
    delete removed;
}

TEST(List, FindZeroAndOneAreAlwaysNull)
{
    Item item;
    L list;
    EXPECT_EQ(list.find(0), nullptr);
    EXPECT_EQ(list.find(1), nullptr);
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    list.add(a);
    list.add(b);
    EXPECT_EQ(list.find(0), nullptr) << "the head sentinel is never handed out";
    EXPECT_EQ(list.find(1), nullptr) << "the tail sentinel is never handed out";
    // Even an ordinary element that carries such an id is not found.
    a->id_m = 0;
    b->id_m = 1;
    EXPECT_EQ(list.find(0), nullptr);
    EXPECT_EQ(list.find(1), nullptr);
    EXPECT_EQ(list.remove(static_cast<unsigned short>(0)), nullptr);
    EXPECT_EQ(list.remove(static_cast<unsigned short>(1)), nullptr);
    expectChain(list, {a, b});
}

TEST(List, TakeMovesEveryElementInOrder)
{
    Item item;
    L list;
    L other;
    E* x = new E(&item, false);
    E* a = new E(&item, false);
    E* b = new E(&item, false);
    list.add(x);
    other.add(a);
    other.add(b);
    list.take(&other);
    expectChain(list, {x, a, b});
    expectChain(other, {});
    list.take(nullptr);
    expectChain(list, {x, a, b});
    list.take(&other);   // an empty list moves nothing
    expectChain(list, {x, a, b});
    // Into an empty list.
    L third;
    third.take(&list);
    expectChain(third, {x, a, b});
    expectChain(list, {});
}

TEST(List, PurgeFalseDeletesElementsAndOnlyOwnedItems)
{
    int before = Item::alive;
    Item kept1(1);
    Item kept2(2);
    L list;
    list.add(new E(&kept1, false));
    list.add(new E(new Item(3)));
    list.add(new E(&kept2, false));
    list.add(new E(new Item(4), true));
    EXPECT_EQ(Item::alive, before + 4);
    list.purge_list(false);
    expectChain(list, {});
    EXPECT_EQ(Item::alive, before + 2) << "the two owned items died, the borrowed ones live";
    EXPECT_EQ(kept1.value, 1);
    EXPECT_EQ(kept2.value, 2);
    // The list is usable afterwards.
    E* again = new E(&kept1, false);
    list.add(again);
    expectChain(list, {again});
}

TEST(List, PurgeTrueDeletesEveryItemEvenOfNonOwningElements)
{
    int before = Item::alive;
    L list;
    list.add(new E(new Item(1), false));
    list.add(new E(new Item(2)));
    list.add(new E(new Item(3), false));
    EXPECT_EQ(Item::alive, before + 3);
    list.purge_list(true);
    EXPECT_EQ(Item::alive, before);
    expectChain(list, {});
    E* again = new E(new Item(5));
    list.add(again);
    expectChain(list, {again});
    list.purge_list(true);
    EXPECT_EQ(Item::alive, before);
}

TEST(List, DestructorDeletesRemainingElementsAndOwnedItems)
{
    int before = Item::alive;
    Item kept(9);
    {
        L list;
        list.add(new E(new Item(1)));
        list.add(new E(&kept, false));
        list.add(new E(new Item(2)));
        EXPECT_EQ(Item::alive, before + 3);
    }
    EXPECT_EQ(Item::alive, before + 1);
    EXPECT_EQ(kept.value, 9);
    {
        L empty;   // an empty list is destroyed without trouble
    }
}

namespace {
class CountedStep : public TraceStep {
public:
    static int alive;
    CountedStep() { ++alive; }
    ~CountedStep() override { --alive; }
    void format(TraceEntry*, char* buf, int size) override
    {
        if (size > 0)
            buf[0] = '\0';
    }
};
int CountedStep::alive = 0;
}  // namespace

TEST(List, TraceStepListOfNonOwningElementsLeavesStepsAlive)
{
    CountedStep a;
    CountedStep b;
    int before = CountedStep::alive;
    {
        TraceStepList steps;
        steps.add(new Element<TraceStep>(&a, false));
        steps.add(new Element<TraceStep>(&b, false));
        EXPECT_EQ(steps.get_first()->item(), &a);
        EXPECT_EQ(steps.get_last()->item(), &b);
    }
    EXPECT_EQ(CountedStep::alive, before);
    EXPECT_NE(TraceStep::getStep(a.stepId_m), nullptr);
}

TEST(List, OwningTraceStepElementDeletesThroughTheVirtualDestructor)
{
    int before = CountedStep::alive;
    {
        TraceStepList steps;
        steps.add(new Element<TraceStep>(new CountedStep()));
        TraceStep* borrowed = new CountedStep();
        steps.add(new Element<TraceStep>(borrowed, false));
        EXPECT_EQ(CountedStep::alive, before + 2);
        steps.purge_list(true);
    }
    EXPECT_EQ(CountedStep::alive, before) << "~CountedStep ran for both";
}

// The counter of an item type is one per process: the library's elements
// (its buffer list) and the host's draw from the same counter.
#include "traceApi.h"

TEST(ElementId, TraceBufferCounterIsSharedWithTheLibrary)
{
    unsigned short before = Element<TraceBuffer>::nextid;
    if (before == 0 || before >= 65534)
        before = Element<TraceBuffer>::nextid = 100;
    TraceApi api;
    ASSERT_TRUE(api.initTraceBuffer(1, nullptr, 4, true));
    Element<TraceBuffer>* element = api.traceBuffers_m.get_first();
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->id(), before) << "the library drew its element id from this counter";
    EXPECT_EQ(Element<TraceBuffer>::nextid, before + 1);
    Element<TraceBuffer> mine(static_cast<TraceBuffer*>(nullptr), false);
    EXPECT_EQ(mine.id(), before + 1);
}
