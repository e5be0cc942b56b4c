#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <tuple>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bridge/disk_walk.h"
#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

// Allocated and logical bytes, device, inode and link count of one file.
using SeenFile = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t>;

struct Walk {
    bool stopOnTick = false;
    bool stopOnFile = false;
    std::map<std::string, SeenFile> files;
    std::vector<std::uint64_t> ticks;
    PLDiskScanStats stats{};
    std::int32_t result = -1;
};

Walk walk(const fs::path& root, bool stopOnTick = false, bool stopOnFile = false)
{
    Walk walk;
    walk.stopOnTick = stopOnTick;
    walk.stopOnFile = stopOnFile;
    walk.result = pl_scan_disk(
        root.c_str(), 0,
        [](const char* path, std::uint64_t allocated, std::uint64_t logical, std::uint64_t device, std::uint64_t inode,
           std::uint32_t links, std::int32_t, std::uint64_t entries, void* context) -> std::int32_t {
            auto& walk = *static_cast<Walk*>(context);
            if (path == nullptr)
                walk.ticks.push_back(entries);
            else
                walk.files[path] = SeenFile{allocated, logical, device, inode, links};
            return (path == nullptr ? walk.stopOnTick : walk.stopOnFile) ? 0 : 1;
        },
        &walk, &walk.stats);
    return walk;
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
    EXPECT_EQ(seen.stats.entries, entries) << "links and folders count as entries, each once";
    EXPECT_EQ(seen.stats.inaccessible, 0U);
    EXPECT_EQ(seen.stats.cancelled, 0);
    // Allocated, not logical, bytes: the sparse file and the hard link tell them apart.
    EXPECT_EQ(seen.files, expected) << "every regular file once, symbolic links never followed";
    EXPECT_TRUE(seen.ticks.empty());
}

TEST(DiskWalk, TicksOnFoldersAndStopsWhenTheCallbackSaysSo)
{
    const TempDir dir;
    for (int i = 0; i < 2'100; ++i) fs::create_directory(dir.path() / ("f" + std::to_string(i)));
    const auto full = walk(dir.path());
    EXPECT_EQ(full.stats.entries, 2'101U);
    EXPECT_EQ(full.ticks, std::vector<std::uint64_t>{2'048});

    const auto stopped = walk(dir.path(), true);
    EXPECT_EQ(stopped.result, 0);
    EXPECT_EQ(stopped.stats.cancelled, 1);
    EXPECT_EQ(stopped.stats.entries, 2'048U);

    writeFile(dir.path() / "f7/file", 10);
    writeFile(dir.path() / "f8/file", 10);
    const auto onFile = walk(dir.path(), false, true);
    EXPECT_EQ(onFile.stats.cancelled, 1);
    EXPECT_EQ(onFile.files.size(), 1U);

    PLDiskScanStats stats{};
    EXPECT_EQ(pl_scan_disk(nullptr, 0, nullptr, nullptr, &stats), EINVAL);
    EXPECT_EQ(pl_scan_disk(dir.path().c_str(), 0, nullptr, nullptr, nullptr), EINVAL);
    EXPECT_EQ(pl_scan_disk((dir.path() / "missing").c_str(), 0, nullptr, nullptr, &stats), 0);
    EXPECT_EQ(stats.entries, 1U);
    EXPECT_EQ(stats.inaccessible, 1U);
}

// Root reads every folder, so the walk runs as the unprivileged "nobody".
TEST(DiskWalk, UnreadableFolderCountsOnceAsEntryAndOnceAsInaccessible)
{
    const bool asRoot = ::geteuid() == 0;
    if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
    const TempDir dir(fs::path("/tmp"));
    const auto probe = testing::copyExecutable(testing::walkProbeProgram(), dir.path(), "walk_probe");
    const auto root = dir.path() / "tree";
    writeFile(root / "locked/hidden", 10);
    writeFile(root / "open/seen", 10);
    for (const auto& path : {dir.path(), probe, root, root / "open"}) fs::permissions(path, fs::perms(0755));
    fs::permissions(root / "locked", fs::perms::none);

    const auto command = (asRoot ? std::string("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ") : "") +
                         probe.string() + " " + root.string();
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    unsigned long long entries = 0;
    unsigned long long inaccessible = 0;
    const int read = std::fscanf(pipe, "%llu %llu", &entries, &inaccessible);
    const int status = ::pclose(pipe);
    ASSERT_EQ(read, 2);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(entries, 4U) << "tree, locked, open, open/seen";
    EXPECT_EQ(inaccessible, 1U);
}

TEST(DiskWalk, PrivacyFoldersAreSkippedOnlyOnExactMatchBelowTheRoot)
{
    const std::string home = pl_account_home();
    ASSERT_FALSE(home.empty());
    const auto skipped = [](const std::string& root, const std::string& path) {
        return pl_should_skip_privacy_path(root.c_str(), path.c_str());
    };
    EXPECT_EQ(skipped("/", home + "/Desktop"), 1);
    EXPECT_EQ(skipped(home + "/Documents", home + "/Documents"), 0) << "the root itself is what was asked for";
    EXPECT_EQ(skipped(home, home + "/Desktop Archive"), 0);
    EXPECT_EQ(skipped(home, home + "/Documents/project"), 0);
    EXPECT_EQ(skipped("/srv", "/srv/Documents"), 0) << "only the account's own home";
}

}  // namespace
}  // namespace corvalent
