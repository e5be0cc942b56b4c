#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <charconv>
#include <string_view>

int main(int argc, char** argv)
{
    if (argc == 3) {
        const std::string_view mode = argv[1];
        if (mode == "--scan") return corvalent::bench::scanForMeasurement(argv[2]);
        if (mode == "--make-duplicates") return corvalent::bench::makeDuplicates(argv[2]);
        if (mode == "--verify") return corvalent::bench::verifyFolder(argv[2]);
        if (mode == "--hash-rate") return corvalent::bench::printHashRate(argv[2]);
        if (mode == "--process-read") {
            const std::string_view text(argv[2]);
            int rounds = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rounds);
            if (error != std::errc{} || end != text.data() + text.size() || rounds < 1) return 2;
            return corvalent::bench::reportProcessRead(rounds);
        }
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
