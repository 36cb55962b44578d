// A fixed number of iterations for every benchmark a program registers, asked for with
// --iterations=<n>: bench/instructions.sh runs each benchmark under callgrind at n and 2n
// iterations, so that the difference of the two counts is n calls and nothing else.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace tvbench {

inline int64_t &FixedIterations()
{
    static int64_t iterations = 0;
    return iterations;
}

// Takes --iterations=<n> out of the arguments, before the benchmarks are registered.
inline void TakeIterations(int &argc, char **argv)
{
    static const char kFlag[] = "--iterations=";
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0)
            FixedIterations() = std::strtoll(argv[i] + sizeof kFlag - 1, NULL, 10);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}

// benchmark::RegisterBenchmark, with the fixed iterations when there are any.
template <class... Args>
benchmark::internal::Benchmark *Register(const std::string &name, Args &&...args)
{
    benchmark::internal::Benchmark *registered =
        benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...);
    if (FixedIterations() > 0)
        registered->Iterations(FixedIterations());
    return registered;
}

// Initialises the library, runs what the arguments select and shuts it down; 1 for an
// argument it does not know.
inline int RunBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace tvbench
