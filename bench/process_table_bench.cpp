// One sample of the process table through the bridge, beside `ps` reading
// the same table.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

#include "bridge/process_bridge.h"

extern char** environ;

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

void runPs()
{
    char program[] = "/usr/bin/ps";
    char format[] = "-eo";
    char columns[] = "pid,ppid,uid,lstart,time,rss,comm";
    char* argv[] = {program, format, columns, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
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
    for (auto _ : state) runPs();
}
BENCHMARK(BM_PsProcessTable)->Unit(benchmark::kMicrosecond);

template <typename Work>
double microsecondsPerRound(int rounds, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) work();
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / rounds;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<std::int32_t> pids(32'768);
    const auto processes = static_cast<double>(readProcessTable(pids));
    const double ours = microsecondsPerRound(200, [&] { readProcessTable(pids); }) / processes;
    const double ps = microsecondsPerRound(20, runPs) / processes;
    std::printf("process table: %.0f processes; bridge %.2f us/process (goal <= 10); ps %.2f us/process; "
                "ps/bridge = %.2fx\n",
                processes, ours, ps, ps / ours);
    return 0;
}
