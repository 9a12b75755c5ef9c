// Counts heap allocations while switched on. allocCounter.cpp replaces the
// malloc family and the global operator new/delete of the whole process;
// every allocation still goes to the allocator that would have served it.
#ifndef TRACELIB_TESTS_ALLOCCOUNTER_H
#define TRACELIB_TESTS_ALLOCCOUNTER_H

#include <stddef.h>

namespace alloccount {

// False when allocations cannot be counted: under valgrind, which replaces
// every allocation function of the process with its own.
bool available();
// Starts counting from zero.
void start();
// Stops counting; returns the number of allocation calls since start().
size_t stop();

}  // namespace alloccount

#endif
