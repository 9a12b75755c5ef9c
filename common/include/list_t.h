// Element<Item> and List<E>: the library's ordered collections.
//
// A List is doubly linked through two sentinel elements built into the list
// object, so insertion and removal never special-case an empty list or either
// end. The caller allocates elements; the list only links them, except that
// purge_list() and ~List() delete every element still linked. An element may
// own its item (deleteItem_m), in which case destroying the element deletes
// the item. Every ordinary element gets a 16-bit id from a counter shared by
// all elements of its item type (ids 0 and 1 belong to the sentinels).
//
// Not thread-safe: the per-type id counter is updated without locking.
#ifndef TRACELIB_COMMON_LIST_T_H
#define TRACELIB_COMMON_LIST_T_H

#include "traceAssert.h"

template <class E> class List;

template <class Item>
class Element {
public:
    explicit Element(Item* item) : Element(item, true) {}

    Element(Item* item, bool deleteItem)
        : item_m(item), deleteItem_m(deleteItem), id_m(takeNextId()),
          prev_m(nullptr), next_m(nullptr)
    {
    }

    // A sentinel: the list passes 0 (head) or 1 (tail). The id counter is
    // left alone.
    explicit Element(int sentinelId)
        : item_m(nullptr), deleteItem_m(true),
          id_m(static_cast<unsigned short>(sentinelId)),
          prev_m(nullptr), next_m(nullptr)
    {
    }

    virtual ~Element()
    {
        // Destroying an element that is still linked would corrupt its list.
        if (prev_m != nullptr && next_m != nullptr)
            TRACE_ASSERT_WHY(0, "a list element is destroyed while still linked");
        if (deleteItem_m && item_m != nullptr) {
            delete item_m;
            item_m = nullptr;
        }
    }

    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    static Element* alloc(Item* item, bool deleteItem)
    {
        return new Element(item, deleteItem);
    }

    Item* item() { return item_m; }

    // Replaces the item; an owning element deletes the previous one first.
    void item(Item* item)
    {
        if (deleteItem_m && item_m != nullptr)
            delete item_m;
        item_m = item;
    }

    bool& delete_item() { return deleteItem_m; }
    unsigned short id() { return id_m; }

    // The neighbours, or null at either end of the list. A sentinel is
    // recognised by its own missing outer link.
    Element* get_next() { return next_m->next_m == nullptr ? nullptr : next_m; }
    Element* get_prev() { return prev_m->prev_m == nullptr ? nullptr : prev_m; }

    // 1-based position from the head of the list.
    int index()
    {
        int position = 1;
        for (Element* e = get_prev(); e != nullptr; e = e->get_prev())
            position++;
        return position;
    }

    Item* item_m;
    bool deleteItem_m;
    unsigned short id_m;
    Element* prev_m;
    Element* next_m;

    static unsigned short nextid;

private:
    static unsigned short takeNextId()
    {
        if (nextid == 0)
            nextid = 2;
        return nextid++;
    }
};

template <class Item>
unsigned short Element<Item>::nextid = 2;

template <class E>
class List {
public:
    List() : count_m(0), head_m(&headSentinel_m), tail_m(&tailSentinel_m),
             headSentinel_m(0), tailSentinel_m(1)
    {
        headSentinel_m.next_m = &tailSentinel_m;
        tailSentinel_m.prev_m = &headSentinel_m;
    }

    // Deletes the elements still linked (and the items of owning ones); the
    // sentinels then die as members, tail before head.
    ~List()
    {
        purge_list(false);
        tailSentinel_m.prev_m = nullptr;
        headSentinel_m.next_m = nullptr;
    }

    List(const List&) = delete;
    List& operator=(const List&) = delete;

    void add(E* element) { insert_before(element, tail_m); }

    void add_head(E* element) { insert_after(element, head_m); }

    void insert_before(E* element, E* anchor)
    {
        element->prev_m = anchor->prev_m;
        element->next_m = anchor;
        anchor->prev_m->next_m = element;
        anchor->prev_m = element;
        count_m++;
    }

    void insert_after(E* element, E* anchor)
    {
        element->next_m = anchor->next_m;
        element->prev_m = anchor;
        anchor->next_m->prev_m = element;
        anchor->next_m = element;
        count_m++;
    }

    // Unlinks the element; the caller takes it over.
    void remove(E* element)
    {
        element->prev_m->next_m = element->next_m;
        element->next_m->prev_m = element->prev_m;
        element->prev_m = nullptr;
        element->next_m = nullptr;
        count_m--;
    }

    E* remove(unsigned short id)
    {
        E* element = find(id);
        if (element != nullptr)
            remove(element);
        return element;
    }

    E* find(unsigned short id)
    {
        if (id == 0 || id == 1)
            return nullptr;
        for (E* e = get_first(); e != nullptr; e = e->get_next())
            if (e->id() == id)
                return e;
        return nullptr;
    }

    E* get_first() { return is_empty() ? nullptr : head_m->next_m; }
    E* get_last() { return is_empty() ? nullptr : tail_m->prev_m; }
    bool is_empty() { return head_m->get_next() == nullptr; }
    int size() { return count_m; }

    // Moves every element of the other list, in order, to the end of this one.
    void take(List* other)
    {
        if (other == nullptr)
            return;
        while (E* element = other->get_first()) {
            other->remove(element);
            add(element);
        }
    }

    // Removes and deletes every element; with deleteItems, every item too,
    // whether or not its element owned it.
    void purge_list(bool deleteItems)
    {
        if (is_empty())
            return;
        E* element = head_m->next_m;
        while (element != tail_m) {
            E* successor = element->next_m;
            remove(element);
            if (deleteItems)
                element->delete_item() = true;
            delete element;
            element = successor;
        }
    }

    int count_m;
    E* head_m;
    E* tail_m;
    E headSentinel_m;
    E tailSentinel_m;
};

#endif
