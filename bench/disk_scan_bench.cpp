// A scan of a generated tree of 200,000 files and of /usr, beside `du -sx`
// on the same trees, each as a separate process so that time and peak
// memory are measured alike.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "bench_support.h"
#include "core/common/child_process.h"
#include "core/disk/disk.h"

namespace corvalent::bench {
namespace {

namespace fs = std::filesystem;

// The seeded tree of 200,000 files that bench/compare.sh also measures,
// made by corvalent_make_tree once and kept.
fs::path generatedTree()
{
    const fs::path root = "/var/tmp/corvalent-bench/tree-200000";
    ChildRunRequest request;
    request.executable = (fs::read_symlink("/proc/self/exe").parent_path() / "corvalent_make_tree").string();
    request.arguments = {root.string(), "200000"};
    request.deadline = std::chrono::minutes(10);
    runChild(request);
    return root;
}

struct Measured {
    double seconds = 0;
    double peakMiB = 0;
};

// Time and peak memory of one run of a command, through the measuring launcher.
Measured measureProcess(const std::vector<std::string>& argv)
{
    ChildRunRequest request;
    request.executable = (fs::read_symlink("/proc/self/exe").parent_path() / "corvalent_measure").string();
    request.arguments = argv;
    request.deadline = std::chrono::minutes(10);
    const auto run = runChild(request);
    Measured measured;
    std::istringstream(run.output) >> measured.seconds >> measured.peakMiB;
    measured.peakMiB /= 1024.0;
    return measured;
}

Measured bestOf(int rounds, const std::vector<std::string>& argv)
{
    Measured best{1e300, 0};
    for (int i = 0; i < rounds; ++i) {
        const auto run = measureProcess(argv);
        best.seconds = std::min(best.seconds, run.seconds);
        best.peakMiB = std::max(best.peakMiB, run.peakMiB);
    }
    return best;
}

void compare(const std::string& label, const std::string& path, int rounds)
{
    const auto self = fs::read_symlink("/proc/self/exe").string();
    measureProcess({"/usr/bin/du", "-sx", path});  // warm the cache
    const auto ours = bestOf(rounds, {self, "--scan", path});
    const auto du = bestOf(rounds, {"/usr/bin/du", "-sx", path});
    print(label + ": scan " + fixed(ours.seconds * 1000, 0) + " ms, peak " + fixed(ours.peakMiB, 1) + " MiB; du -sx " +
          fixed(du.seconds * 1000, 0) + " ms, peak " + fixed(du.peakMiB, 1) + " MiB; scan/du = " +
          fixed(ours.seconds / du.seconds, 2) + "x (goal <= 1.3)");
}

void BM_ScanGeneratedTree(benchmark::State& state)
{
    const auto root = generatedTree().string();
    std::int64_t files = 0;
    for (auto _ : state) {
        const auto result = DiskScanner::scan(root, true, DiskScanner::defaultHierarchyDepth,
                                              DiskScanner::defaultChildrenPerFolder, {}, {});
        files = result.root.fileCount;
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_ScanGeneratedTree)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int scanForMeasurement(const std::string& path)
{
    const auto result = DiskScanner::scan(path, true, DiskScanner::defaultHierarchyDepth,
                                          DiskScanner::defaultChildrenPerFolder, {}, {});
    return result.root.fileCount > 0 ? 0 : 1;
}

void reportDiskScan()
{
    const auto tree = generatedTree();
    compare("generated tree (200000 files)", tree.string(), 5);
    compare("/usr", "/usr", 3);
    compare("/", "/", 1);
}

}  // namespace corvalent::bench
