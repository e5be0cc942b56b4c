#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <thread>
#include <tuple>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/disk_privacy.h"
#include "bridge/disk_walk.h"
#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::makeChain;
using testing::removeChain;
using testing::TempDir;
using testing::writeFile;

// Allocated and logical bytes, device, inode and link count of one file.
using SeenFile = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t>;

// One visit as the visitor saw it, in order.
struct Visit {
    std::uint32_t depth;
    std::string name;
    PLDiskEntryKind kind;
    bool failed;
    std::uint64_t allocated;
    std::uint64_t inode;
    bool operator==(const Visit&) const = default;
};

// Records every visit and the files by full path, rebuilt from the depths.
struct Recorder final : PLDiskVisitor {
    bool stopOnTick = false;
    bool stopOnFile = false;
    std::vector<Visit> visits;
    std::map<std::string, SeenFile> files;
    std::vector<std::uint64_t> ticks;
    std::vector<std::string> folders;

    bool visit(const PLDiskEntry& entry) override
    {
        visits.push_back({entry.depth, std::string(entry.name), entry.kind, entry.error != 0, entry.allocatedBytes,
                          entry.inode});
        const auto path = entry.depth == 0 ? std::string(entry.name) : folders[entry.depth - 1] + "/" + std::string(entry.name);
        if (entry.kind == PLDiskEntryKind::folder) {
            folders.resize(entry.depth + 1);
            folders[entry.depth] = path;
        }
        if (entry.kind == PLDiskEntryKind::file && entry.error == 0)
            files[path] = SeenFile{entry.allocatedBytes, entry.logicalBytes, entry.device, entry.inode, entry.links};
        return !(stopOnFile && entry.kind == PLDiskEntryKind::file);
    }

    bool tick(std::uint64_t entries, const PLDiskAhead&) override
    {
        ticks.push_back(entries);
        return !stopOnTick;
    }
};

struct Walk {
    Recorder seen;
    PLDiskScanStats stats{};
    std::int32_t result = -1;
};

Walk walk(const fs::path& root, int threads = 4, bool stopOnTick = false, bool stopOnFile = false)
{
    Walk walk;
    walk.seen.stopOnTick = stopOnTick;
    walk.seen.stopOnFile = stopOnFile;
    PLDiskWalkOptions options;
    options.threads = threads;
    walk.result = pl_walk_disk(root.c_str(), options, walk.seen, walk.stats);
    return walk;
}

// Lowers this process's soft open-file limit while it lives.
struct SoftFileLimit {
    struct rlimit saved {};
    explicit SoftFileLimit(rlim_t files)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const struct rlimit low{files, saved.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    }
    SoftFileLimit(const SoftFileLimit&) = delete;
    SoftFileLimit& operator=(const SoftFileLimit&) = delete;
    ~SoftFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

// Runs the walk probe on `root` in a child process, optionally as another
// account (`prefix`) and under an open-file limit; its output line.
std::string probeWalk(const fs::path& probe, const fs::path& root, int threads, int fileLimit = 0,
                      const std::string& prefix = {}, const std::string& mode = {})
{
    auto command = prefix + probe.string() + " " + root.string() + " " + std::to_string(threads);
    if (fileLimit > 0) command += " " + std::to_string(fileLimit);
    if (!mode.empty()) command += " " + mode;
    return testing::commandOutput(command);
}

TEST(DiskWalk, RealTreeMatchesAnIndependentCount)
{
    const TempDir dir;
    const auto& root = dir.path();
    fs::create_directories(root / "empty");
    writeFile(root / "top.txt", 100);
    writeFile(root / "a/one", 3'000);
    writeFile(root / "a/two", 70'000);
    writeFile(root / "a/b/c/deep", 1);
    fs::create_hard_link(root / "a/two", root / "a/two-link");
    writeFile(root / "sparse.img", 4'096);
    ASSERT_EQ(::truncate((root / "sparse.img").c_str(), 1 << 30), 0);
    fs::create_directories(root / "loop");
    fs::create_symlink("y", root / "loop/x");
    fs::create_symlink("x", root / "loop/y");
    fs::create_directory_symlink("..", root / "loop/up");
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);

    std::uint64_t entries = 1;
    std::map<std::string, SeenFile> expected;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        ++entries;
        struct stat info {};
        ASSERT_EQ(::lstat(entry.path().c_str(), &info), 0);
        if (S_ISREG(info.st_mode))
            expected[entry.path()] =
                SeenFile{static_cast<std::uint64_t>(info.st_blocks) * 512, static_cast<std::uint64_t>(info.st_size),
                         info.st_dev, info.st_ino, static_cast<std::uint32_t>(info.st_nlink)};
    }

    const auto seen = walk(root);
    EXPECT_EQ(seen.result, 0);
    EXPECT_EQ(seen.stats.entries, entries) << "links, pipes and folders count as entries, each once";
    EXPECT_EQ(seen.stats.inaccessible, 0U);
    EXPECT_EQ(seen.stats.cancelled, 0);
    // Allocated, not logical, bytes: the sparse file and the hard link tell them apart.
    EXPECT_EQ(seen.seen.files, expected) << "every regular file once, symbolic links never followed";
    EXPECT_TRUE(seen.seen.ticks.empty());
    ASSERT_FALSE(seen.seen.visits.empty());
    struct stat rootInfo {};
    ASSERT_EQ(::stat(root.c_str(), &rootInfo), 0);
    EXPECT_EQ(seen.seen.visits.front(), (Visit{0, root.string(), PLDiskEntryKind::folder, false, 0, rootInfo.st_ino}));
}

TEST(DiskWalk, TicksAndStopsWhenTheVisitorSaysSoOrTheTokenAsks)
{
    const TempDir dir;
    for (int i = 0; i < 2'100; ++i) fs::create_directory(dir.path() / ("f" + std::to_string(i)));
    const auto full = walk(dir.path());
    EXPECT_EQ(full.stats.entries, 2'101U);
    EXPECT_EQ(full.seen.ticks, std::vector<std::uint64_t>{2'048});

    const auto stopped = walk(dir.path(), 4, true);
    EXPECT_EQ(stopped.result, 0);
    EXPECT_EQ(stopped.stats.cancelled, 1);
    EXPECT_EQ(stopped.stats.entries, 2'048U);

    writeFile(dir.path() / "f7/file", 10);
    writeFile(dir.path() / "f8/file", 10);
    const auto onFile = walk(dir.path(), 4, false, true);
    EXPECT_EQ(onFile.stats.cancelled, 1);
    EXPECT_EQ(onFile.seen.files.size(), 1U);

    std::stop_source source;
    source.request_stop();
    PLDiskWalkOptions options;
    options.stop = source.get_token();
    Recorder recorder;
    PLDiskScanStats stats{};
    EXPECT_EQ(pl_walk_disk(dir.path().c_str(), options, recorder, stats), 0);
    EXPECT_EQ(stats.cancelled, 1);
    EXPECT_TRUE(recorder.visits.empty());

    EXPECT_EQ(pl_walk_disk(nullptr, {}, recorder, stats), EINVAL);
    EXPECT_EQ(pl_walk_disk((dir.path() / "missing").c_str(), {}, recorder, stats), 0);
    EXPECT_EQ(stats.entries, 1U);
    EXPECT_EQ(stats.inaccessible, 1U);
}

// Hard links across folders, links, pipes, names that are not UTF-8, a
// folder of 100,000 files and a chain of folders far past the path limit:
// eight readers visit exactly what one reader visits, in the same order.
TEST(DiskWalk, ParallelWalkVisitsWhatTheSequentialWalkVisits)
{
    // A hundred thousand new files: in memory where the machine has a tmpfs.
    const TempDir dir(fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    const auto& root = dir.path();
    std::mt19937 random(7);
    for (int a = 0; a < 30; ++a) {
        for (int b = 0; b < 8; ++b) {
            const auto folder = root / ("f" + std::to_string(a)) / ("g" + std::to_string(b));
            fs::create_directories(folder);
            for (int c = 0; c < 12; ++c) writeFile(folder / ("file" + std::to_string(c)), random() % 20'000);
        }
        fs::create_hard_link(root / ("f" + std::to_string(a)) / "g0/file0", root / ("link" + std::to_string(a)));
        fs::create_directory_symlink("/usr", root / ("f" + std::to_string(a)) / "usr");
    }
    writeFile(root / std::string("latin-\xE9t\xE9/caf\xE9.bin"), 3'000);
    const auto wide = root / "wide";
    fs::create_directory(wide);
    for (int i = 0; i < 100'000; ++i) {
        const int fd = ::open((wide / ("w" + std::to_string(i))).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    constexpr int chainDepth = 5'000;
    fs::create_directory(root / "chain");
    makeChain(root / "chain", chainDepth);
    struct ChainCleanup {
        fs::path root;
        ~ChainCleanup() { removeChain(root, chainDepth); }
    } cleanup{root / "chain"};

    const auto sequential = walk(root, 1);
    const auto parallel = walk(root, 8);
    EXPECT_EQ(sequential.stats.inaccessible, 0U);
    EXPECT_EQ(sequential.stats.cancelled, 0);
    EXPECT_EQ(parallel.stats.entries, sequential.stats.entries);
    EXPECT_EQ(parallel.stats.inaccessible, sequential.stats.inaccessible);
    EXPECT_TRUE(parallel.seen.visits == sequential.seen.visits) << "same entries in the same order";
    EXPECT_EQ(parallel.seen.files, sequential.seen.files);

    const auto deepest = std::find_if(parallel.seen.visits.begin(), parallel.seen.visits.end(),
                                      [](const Visit& visit) { return visit.name == "end"; });
    ASSERT_NE(deepest, parallel.seen.visits.end()) << "the chain is measured to its end";
    EXPECT_EQ(deepest->depth, static_cast<std::uint32_t>(chainDepth + 2));
    EXPECT_FALSE(deepest->failed);
    EXPECT_EQ(parallel.seen.files.count((root / std::string("latin-\xE9t\xE9/caf\xE9.bin")).string()), 1U);
    for (const auto& [path, file] : parallel.seen.files) EXPECT_TRUE(path.starts_with(root.string())) << path;

    // Under a low open-file limit, in a child process, the walk sees the same.
    const auto unlimited = probeWalk(testing::walkProbeProgram(), root, 8);
    EXPECT_TRUE(unlimited.starts_with(std::to_string(sequential.stats.entries) + " 0 ")) << unlimited;
    for (const int threads : {1, 8})
        EXPECT_EQ(probeWalk(testing::walkProbeProgram(), root, threads, 64), unlimited) << threads << " threads";
}

// Many sibling folders, each holding a folder and a file, and a chain of
// folders far deeper than the open-file limit: a low limit loses nothing.
TEST(DiskWalk, LowOpenFileLimitsLoseNothingWhateverTheTreesShape)
{
    const TempDir dir(fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    const auto wide = dir.path() / "wide";
    for (int i = 0; i < 4'000; ++i) writeFile(wide / ("a" + std::to_string(i)) / "b/f", 100 + i);
    const auto probe = testing::walkProbeProgram();
    const auto unlimited = probeWalk(probe, wide, 8);
    EXPECT_TRUE(unlimited.starts_with("12001 0 ")) << unlimited;
    for (const int limit : {64, 1'024})
        for (const int threads : {1, 8})
            EXPECT_EQ(probeWalk(probe, wide, threads, limit), unlimited) << threads << " threads at " << limit;
    // Another part of the program takes every free descriptor for a while:
    // the walk waits for them rather than call folders unreadable.
    for (const int threads : {1, 8})
        EXPECT_EQ(probeWalk(probe, wide, threads, 256, {}, "hog"), unlimited) << threads << " threads";

    constexpr int chainDepth = 5'000;
    const auto deep = dir.path() / "deep";
    fs::create_directory(deep);
    makeChain(deep, chainDepth);
    struct ChainCleanup {
        fs::path root;
        ~ChainCleanup() { removeChain(root, chainDepth); }
    } cleanup{deep};
    const auto whole = probeWalk(probe, deep, 8);
    EXPECT_TRUE(whole.starts_with(std::to_string(chainDepth + 2) + " 0 ")) << whole << " (root, chain, its end)";
    EXPECT_EQ(probeWalk(probe, deep, 8, 128), whole);
    EXPECT_EQ(probeWalk(probe, deep, 1, 16), whole);
}

// Folders are swapped for links to a folder outside the root while the walk
// runs: the walk may miss them but never reports what lies behind a link.
TEST(DiskWalk, FolderSwappedForALinkDuringTheWalkIsNeverFollowed)
{
    const TempDir dir;
    const auto outside = dir.path() / "outside";
    writeFile(outside / "outside-marker", 10);
    const auto root = dir.path() / "root";
    constexpr int swapped = 16;
    for (int i = 0; i < swapped; ++i)
        for (int j = 0; j < 40; ++j) writeFile(root / ("s" + std::to_string(i)) / "inner" / ("f" + std::to_string(j)), 1);

    // Stopped as it goes out of scope, also when an assertion ends the test.
    std::jthread swapper([&](std::stop_token stop) {
        for (int round = 0; !stop.stop_requested(); ++round) {
            for (int i = 0; i < swapped; ++i) {
                const auto folder = root / ("s" + std::to_string(i));
                const auto aside = root / ("aside" + std::to_string(i));
                std::error_code error;
                if (round % 2 == 0) {
                    fs::rename(folder, aside, error);
                    fs::create_directory_symlink(outside, folder, error);
                } else {
                    fs::remove(folder, error);
                    fs::rename(aside, folder, error);
                }
            }
        }
    });
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = openDescriptors();
    int walks = 0;
    for (; walks < 300; ++walks) {
        // Every third walk under a low open-file limit, where folders are
        // opened again from the root, one name at a time.
        const std::optional<SoftFileLimit> low = walks % 3 == 2 ? std::optional<SoftFileLimit>(std::in_place, 32) : std::nullopt;
        const auto seen = walk(root, walks % 2 == 0 ? 8 : 1);
        for (const auto& visit : seen.seen.visits) ASSERT_NE(visit.name, "outside-marker") << "walk " << walks;
    }
    swapper.request_stop();
    swapper.join();
    EXPECT_EQ(openDescriptors(), before) << "every walk gives back what it opened";
}

// A folder bind-mounted inside itself: the walk meets the same folder again
// on the same file system and does not enter it a second time.
TEST(DiskWalk, AFolderMountedInsideItselfIsEnteredOnce)
{
    const TempDir dir;
    const auto root = dir.path() / "root";
    writeFile(root / "file", 10);
    fs::create_directories(root / "inner/loop");
    if (::mount(root.c_str(), (root / "inner/loop").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts need privileges this test does not have";
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{root / "inner/loop"};

    for (const int threads : {1, 8}) {
        const auto seen = walk(root, threads);
        EXPECT_EQ(seen.stats.entries, 4U) << "root, file, inner and the loop itself";
        EXPECT_EQ(seen.seen.files.size(), 1U);
    }
}

// Root reads every folder, so the walk runs as the unprivileged "nobody".
TEST(DiskWalk, UnreadableFolderCountsOnceAsEntryAndOnceAsInaccessibleWithAnyThreadCount)
{
    const bool asRoot = ::geteuid() == 0;
    if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
    const TempDir dir(fs::path("/tmp"));
    const auto probe = testing::copyExecutable(testing::walkProbeProgram(), dir.path(), "walk_probe");
    const auto root = dir.path() / "tree";
    writeFile(root / "locked/hidden", 10);
    writeFile(root / "open/seen", 10);
    writeFile(root / "open/deeper/locked/hidden", 10);
    for (int i = 0; i < 20; ++i) writeFile(root / ("many" + std::to_string(i)) / "file", 10);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0755) : fs::perms(0644));
    for (const auto& path : {dir.path(), probe, root}) fs::permissions(path, fs::perms(0755));
    fs::permissions(root / "locked", fs::perms::none);
    fs::permissions(root / "open/deeper/locked", fs::perms::none);

    const auto prefix = asRoot ? std::string("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ") : "";
    const auto probeWith = [&](int threads, int fileLimit = 0) {
        return probeWalk(probe, root, threads, fileLimit, prefix);
    };
    const auto one = probeWith(1);
    EXPECT_TRUE(one.starts_with("46 2 ")) << one << " (tree, 2 locked, open, seen, deeper, 20 folders and their files)";
    EXPECT_EQ(probeWith(8), one) << "the same visits in the same order";
    for (const int threads : {1, 8})
        EXPECT_EQ(probeWith(threads, 64), one) << threads << " threads at an open-file limit of 64";
}

TEST(DiskWalk, PrivacyFoldersAreSkippedOnlyOnExactMatchBelowTheRoot)
{
    const std::string home = "/home/ana";
    const auto skipped = [&](const std::string& root, const std::string& path) {
        return pl_should_skip_privacy_path(root.c_str(), path.c_str(), {home + "/", {}});
    };
    EXPECT_EQ(skipped("/", home + "/Desktop"), 1);
    EXPECT_EQ(skipped(home + "/Documents", home + "/Documents"), 0) << "the root itself is what was asked for";
    EXPECT_EQ(skipped(home, home + "/Desktop Archive"), 0);
    EXPECT_EQ(skipped(home, home + "/Documents/project"), 0);
    EXPECT_EQ(skipped("/srv", "/srv/Documents"), 0) << "only the home folder given";
    EXPECT_EQ(skipped("/", "/home/anabel/Desktop"), 0);
    EXPECT_GE(pl_available_processors(), 1);
}

}  // namespace
}  // namespace corvalent
