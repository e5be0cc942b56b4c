// A full sample and grouping of the process table, on the live table and on
// 2,000 synthetic processes, beside `ps` reading the live table.
#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "core/process/snapshot.h"

namespace {

using namespace corvalent;

// 2,000 processes shaped like a developer's machine: applications with
// helper chains, node and python workers in projects, plain tools.
ScanResult syntheticSample(double timestamp, std::uint64_t tick)
{
    ScanResult result;
    result.timestamp = timestamp;
    const auto user = ::getuid();
    for (std::int32_t i = 0; i < 2'000; ++i) {
        ProcessRecord r;
        r.pid = 1'000 + i;
        r.parent = i % 10 == 0 ? 1 : 1'000 + i - 1;
        r.uid = i % 7 == 0 ? 0 : user;
        r.started = 1'700'000'000'000'000ULL + static_cast<std::uint64_t>(i);
        r.cpuTime = tick * static_cast<std::uint64_t>(i % 13) * 1'000'000;
        r.memory = static_cast<std::uint64_t>((i * 7919) % 4096) << 20;
        const int kind = i % 5;
        if (kind == 0) {
            r.name = "App" + std::to_string(i / 50);
            r.path = "/Applications/App" + std::to_string(i / 50) + ".app/Contents/MacOS/App";
        } else if (kind == 1) {
            r.name = "node";
            r.path = "/usr/local/bin/node";
            r.cwd = "/home/dev/projects/p" + std::to_string(i % 40) + "/src";
            r.role = i % 3 == 0 ? "tests" : "";
        } else if (kind == 2) {
            r.name = "python3";
            r.path = "/usr/bin/python3";
            r.cwd = "/home/dev/repos/r" + std::to_string(i % 25);
        } else {
            r.name = "tool" + std::to_string(i % 90);
            r.path = "/usr/local/bin/tool" + std::to_string(i % 90);
        }
        r.protection = r.uid == user ? ProcessProtection::none : ProcessProtection::otherUser;
        result.records.push_back(std::move(r));
    }
    return result;
}

void BM_LiveSampleAndGrouping(benchmark::State& state)
{
    std::optional<ProcessSnapshot> previous;
    for (auto _ : state) {
        auto sample = Scanner::scan(previous ? &previous->result : nullptr);
        auto snapshot = ProcessSnapshot::make(std::move(sample), previous ? &*previous : nullptr);
        previous = std::move(snapshot);
    }
    state.counters["processes"] = static_cast<double>(previous->result.records.size());
}
BENCHMARK(BM_LiveSampleAndGrouping)->Unit(benchmark::kMillisecond);

void BM_SyntheticFirstMake(benchmark::State& state)
{
    const auto sample = syntheticSample(1.0, 1);
    for (auto _ : state) benchmark::DoNotOptimize(ProcessSnapshot::make(sample, nullptr));
}
BENCHMARK(BM_SyntheticFirstMake)->Unit(benchmark::kMillisecond);

void BM_SyntheticReuse(benchmark::State& state)
{
    const auto first = ProcessSnapshot::make(syntheticSample(1.0, 1), nullptr);
    const auto sample = syntheticSample(4.0, 2);
    for (auto _ : state) benchmark::DoNotOptimize(ProcessSnapshot::make(sample, &first));
}
BENCHMARK(BM_SyntheticReuse)->Unit(benchmark::kMillisecond);

// The same with this desktop's installed applications: the index is built
// once, as the model does, and every executable path is looked up in it.
void BM_SyntheticFirstMakeWithApplications(benchmark::State& state)
{
    const auto applications = ApplicationIndex::build(ApplicationPlaces::fromEnvironment());
    const auto sample = syntheticSample(1.0, 1);
    for (auto _ : state) benchmark::DoNotOptimize(ProcessSnapshot::make(sample, nullptr, applications));
    state.counters["applications"] = static_cast<double>(applications.size());
}
BENCHMARK(BM_SyntheticFirstMakeWithApplications)->Unit(benchmark::kMillisecond);

void BM_ApplicationIndexBuild(benchmark::State& state)
{
    const auto places = ApplicationPlaces::fromEnvironment();
    for (auto _ : state) benchmark::DoNotOptimize(ApplicationIndex::build(places));
}
BENCHMARK(BM_ApplicationIndexBuild)->Unit(benchmark::kMillisecond);

}  // namespace

namespace corvalent::bench {

void reportProcessEngine()
{
    std::optional<ProcessSnapshot> previous;
    const double ours = millisecondsPerRound(50, [&] {
        auto sample = Scanner::scan(previous ? &previous->result : nullptr);
        previous = ProcessSnapshot::make(std::move(sample), previous ? &*previous : nullptr);
    });
    const double ps = millisecondsPerRound(20, runPs);
    const auto firstSample = syntheticSample(1.0, 1);
    const double first = millisecondsPerRound(50, [&] { ProcessSnapshot::make(firstSample, nullptr); });
    const auto base = ProcessSnapshot::make(firstSample, nullptr);
    const auto nextSample = syntheticSample(4.0, 2);
    const double reuse = millisecondsPerRound(50, [&] { ProcessSnapshot::make(nextSample, &base); });

    print("live table: " + std::to_string(previous->result.records.size()) + " processes; sample and grouping " +
          fixed(ours, 2) + " ms; ps " + fixed(ps, 2) + " ms (" + fixed(ps / ours, 2) + "x ours)");
    print("2000 synthetic processes: first grouping " + fixed(first, 2) + " ms (goal <= 20); reuse " +
          fixed(reuse, 2) + " ms (goal <= 5)");
}

}  // namespace corvalent::bench
