// Array<Element>: a growable array of plain values (the library keeps the
// step registry in an Array<TraceStep*>). The array owns its storage; slots
// that nothing was stored into read as value-initialised (null for pointers).
// Indexing out of range stops the process.
#ifndef TRACELIB_COMMON_ARRAY_T_H
#define TRACELIB_COMMON_ARRAY_T_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <new>

#include "traceAssert.h"

template <class Element>
class Array {
public:
    // constexpr so that a static Array is initialised before any dynamic
    // initialiser of the process can use it.
    constexpr Array() : size_m(0), data_m(nullptr) {}

    explicit Array(size_t n) : size_m(0), data_m(nullptr) { size(n); }

    Array(const Array& other) : size_m(0), data_m(nullptr) { *this = other; }

    ~Array() { release(); }

    size_t size() { return size_m; }

    // Resizes to exactly n slots, keeping the leading elements.
    void size(size_t n)
    {
        if (n == 0) {
            release();
            return;
        }
        if (n == size_m)
            return;
        Element* data = allocate(n);
        size_t keep = n < size_m ? n : size_m;
        for (size_t i = 0; i < keep; i++)
            data[i] = data_m[i];
        delete[] data_m;
        data_m = data;
        size_m = static_cast<uint32_t>(n);
    }

    // Makes room for at least n slots by doubling; never shrinks.
    void grow(size_t n)
    {
        size_t capacity = size_m == 0 ? 1 : size_m;
        while (n > capacity)
            capacity *= 2;
        size(capacity);
    }

    // Out of range stops through abort() with no message by design: the
    // library's only user, the step registry, never indexes past size_m.
    Element& operator[](int i)
    {
        if (static_cast<unsigned int>(i) >= size_m)
            abort();
        return data_m[i];
    }

    Array& operator=(const Array& other)
    {
        if (this == &other)
            return *this;
        Element* data = other.size_m == 0 ? nullptr : allocate(other.size_m);
        for (size_t i = 0; i < other.size_m; i++)
            data[i] = other.data_m[i];
        delete[] data_m;
        data_m = data;
        size_m = other.size_m;
        return *this;
    }

    void debug_abort(int) { abort(); }

    uint32_t size_m;
    Element* data_m;

private:
    static Element* allocate(size_t n)
    {
        Element* data = new (std::nothrow) Element[n]();
        if (data == nullptr)
            TRACE_ASSERT_WHY(0, "no memory for the array's storage");
        return data;
    }

    void release()
    {
        delete[] data_m;
        data_m = nullptr;
        size_m = 0;
    }
};

#endif
