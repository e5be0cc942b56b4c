#include <benchmark/benchmark.h>

#include "bench_support.h"

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    corvalent::bench::reportProcessTable();
    corvalent::bench::reportProcessEngine();
    return 0;
}
