// Runs one benchmark's timed loop and reports the heap allocations made in
// it, per iteration, as the counter "allocs".
#ifndef TRACELIB_BENCH_MEASURE_H
#define TRACELIB_BENCH_MEASURE_H

#include <benchmark/benchmark.h>

#include "allocCount.h"

template <class Work>
void measureLoop(benchmark::State& state, Work&& work)
{
    const uint64_t before = benchAllocationCount();
    for (auto _ : state)
        work();
    const double allocations = static_cast<double>(benchAllocationCount() - before);
    state.counters["allocs"] = benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
}

#endif
