#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <string_view>

int main(int argc, char** argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--scan") return corvalent::bench::scanForMeasurement(argv[2]);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    corvalent::bench::reportProcessTable();
    corvalent::bench::reportProcessEngine();
    corvalent::bench::reportDiskScan();
    corvalent::bench::reportDuplicateVerification();
    return 0;
}
