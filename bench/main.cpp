#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <string_view>

int main(int argc, char** argv)
{
    if (argc == 3) {
        const std::string_view mode = argv[1];
        if (mode == "--scan") return corvalent::bench::scanForMeasurement(argv[2]);
        if (mode == "--make-duplicates") return corvalent::bench::makeDuplicates(argv[2]);
        if (mode == "--verify") return corvalent::bench::verifyFolder(argv[2]);
        if (mode == "--hash-rate") return corvalent::bench::printHashRate(argv[2]);
    }

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
