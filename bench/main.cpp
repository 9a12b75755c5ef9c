// The benchmark binary's entry point; the cases register themselves
// (recordBench.cpp, saveBench.cpp).
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
