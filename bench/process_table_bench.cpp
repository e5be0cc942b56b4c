// Reads of the process table through the bridge and the sampler, beside
// `ps` reading the same table; on the live table and with 2,000 more idle
// processes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "bridge/process_bridge.h"
#include "core/process/processes.h"

namespace {

using corvalent::PLProcessInfo;

// Lists and reads every process once in full; returns how many were listed.
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

// Idle processes that swell the process table: `sleep` children that die
// with this program even when it is killed, killed and reaped when the
// object goes.
class IdleProcesses {
public:
    explicit IdleProcesses(int count)
    {
        // Each child holds the write end until its exec closes it: the read
        // below ends once every child runs `sleep`.
        int started[2];
        if (::pipe2(started, O_CLOEXEC) != 0) return;
        const pid_t parent = ::getpid();
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) ::_exit(1);
                ::execl("/bin/sleep", "sleep", "infinity", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            if (pid < 0) break;
            pids_.push_back(pid);
        }
        ::close(started[1]);
        char byte = 0;
        while (::read(started[0], &byte, 1) > 0) {
        }
        ::close(started[0]);
    }
    ~IdleProcesses()
    {
        for (const auto pid : pids_) ::kill(pid, SIGKILL);
        for (const auto pid : pids_) ::waitpid(pid, nullptr, 0);
    }
    IdleProcesses(const IdleProcesses&) = delete;
    IdleProcesses& operator=(const IdleProcesses&) = delete;

    std::size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

double secondsOf(const std::chrono::steady_clock::time_point& start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Microseconds per listed process (kernel threads included, as `ps -e`
// lists them) of first samples (nothing known), of later samples (each given
// the one before, as the workspace takes them), of full reads of every
// process and of `ps`.
struct ProcessReadCost {
    double listed = 0;
    double programs = 0;  // records per sample
    double firstSample = 0;
    double laterSample = 0;
    double fullRead = 0;
    double ps = 0;
};

ProcessReadCost measureProcessRead(int rounds)
{
    namespace Scanner = corvalent::Scanner;
    ProcessReadCost cost;
    std::vector<std::int32_t> pids(32'768);
    double listed = 0;
    const auto list = [&] { listed += corvalent::pl_list(pids.data(), static_cast<std::int32_t>(pids.size())); };
    auto previous = Scanner::scan();  // warms the kernel's caches of /proc

    double seconds = 0;
    for (int i = 0; i < rounds; ++i) {
        list();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(Scanner::scan());
        seconds += secondsOf(start);
    }
    cost.firstSample = seconds * 1e6 / listed;

    seconds = 0;
    listed = 0;
    double records = 0;
    for (int i = 0; i < rounds; ++i) {
        list();
        const auto start = std::chrono::steady_clock::now();
        auto sample = Scanner::scan(&previous);
        seconds += secondsOf(start);
        records += static_cast<double>(sample.records.size());
        previous = std::move(sample);
    }
    cost.laterSample = seconds * 1e6 / listed;
    cost.listed = listed / rounds;
    cost.programs = records / rounds;

    listed = 0;
    const double full =
        corvalent::bench::millisecondsPerRound(rounds, [&] { listed += static_cast<double>(readProcessTable(pids)); });
    cost.fullRead = full * 1000.0 * rounds / listed;
    cost.ps =
        corvalent::bench::millisecondsPerRound(std::max(rounds / 5, 3), corvalent::bench::runPs) * 1000.0 / cost.listed;
    return cost;
}

void printProcessRead(const std::string& table, const ProcessReadCost& cost)
{
    using corvalent::bench::fixed;
    corvalent::bench::print(
        "process read, " + table + ": " + fixed(cost.listed, 0) + " processes (" + fixed(cost.programs, 0) +
        " besides kernel threads), " + fixed(cost.laterSample, 2) + " µs per process (goal <= 10; first sample " +
        fixed(cost.firstSample, 2) + " µs, later samples " + fixed(cost.laterSample, 2) + " µs; full read of each " +
        fixed(cost.fullRead, 2) + " µs); ps -eo pid,ppid,uid,lstart,time,rss,comm: " + fixed(cost.ps, 2) +
        " µs per process; ps/ours = " + fixed(cost.ps / cost.laterSample, 2) + "x");
}

}  // namespace

namespace corvalent::bench {

void reportProcessTable()
{
    printProcessRead("live table", measureProcessRead(50));
}

int reportProcessRead(int rounds)
{
    if (rounds < 1) return 2;
    printProcessRead("live table", measureProcessRead(rounds));
    const IdleProcesses idle(2'000);
    const auto table = "live table and " + std::to_string(idle.size()) + " idle processes";
    printProcessRead(table, measureProcessRead(rounds));
    return 0;
}

}  // namespace corvalent::bench
