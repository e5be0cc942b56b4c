// One sample of the process table through the bridge, beside `ps` reading
// the same table.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"
#include "bridge/process_bridge.h"

namespace {

using corvalent::PLProcessInfo;

// Lists and reads every process once; returns how many were listed.
std::size_t readProcessTable(std::vector<std::int32_t>& pids)
{
    const auto count = corvalent::pl_list(pids.data(), static_cast<std::int32_t>(pids.size()));
    PLProcessInfo info;
    for (std::int32_t i = 0; i < count; ++i) {
        corvalent::pl_read(pids[static_cast<std::size_t>(i)], &info);
        benchmark::DoNotOptimize(info);
    }
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

void BM_ProcessTable(benchmark::State& state)
{
    std::vector<std::int32_t> pids(32'768);
    std::size_t processes = 0;
    for (auto _ : state) processes = readProcessTable(pids);
    state.counters["processes"] = static_cast<double>(processes);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * processes));
}
BENCHMARK(BM_ProcessTable)->Unit(benchmark::kMicrosecond);

void BM_PsProcessTable(benchmark::State& state)
{
    for (auto _ : state) corvalent::bench::runPs();
}
BENCHMARK(BM_PsProcessTable)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace corvalent::bench {

void reportProcessTable()
{
    std::vector<std::int32_t> pids(32'768);
    const auto processes = static_cast<double>(readProcessTable(pids));
    const double ours = millisecondsPerRound(200, [&] { readProcessTable(pids); }) * 1000.0 / processes;
    const double ps = millisecondsPerRound(20, runPs) * 1000.0 / processes;
    print("process table: " + fixed(processes, 0) + " processes; bridge " + fixed(ours, 2) +
          " us/process (goal <= 10); ps " + fixed(ps, 2) + " us/process; ps/bridge = " + fixed(ps / ours, 2) + "x");
}

}  // namespace corvalent::bench
