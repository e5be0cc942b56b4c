// The walk at the edges: a file system that hangs, and a tree far deeper than
// wide.
#include <algorithm>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <stop_token>
#include <string>
#include <vector>

#include "bridge/disk_walk.h"
#include "bridge/walk_mounts.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::SlowMount;
using testing::SlowTree;
using testing::TempDir;

// Keeps the depth and name of each visit; stops after `stopAfter` visits.
struct DepthRecorder final : PLDiskVisitor {
    std::uint64_t stopAfter = 0;
    std::vector<std::pair<std::uint32_t, std::string>> visits;
    bool visit(const PLDiskEntry& entry) override
    {
        visits.emplace_back(entry.depth, std::string(entry.name));
        return stopAfter == 0 || visits.size() < stopAfter;
    }
};

// Asked to stop while one of its readers sleeps 30 s in a listing or in the
// stat of its own root, the walk returns at once, with any thread count. The
// reader finishes when the mount goes, after the walk has returned.
TEST(DiskWalk, StopReturnsAtOnceWhileAReaderIsHeldByAHungFileSystem)
{
    enum class Slow { listing, root };
    for (const auto slow : {Slow::listing, Slow::root}) {
        for (const int threads : {1, 8}) {
            TempDir dir;
            SlowTree tree;
            for (int i = 0; i < 40; ++i) tree.folders.push_back("f" + std::to_string(i));
            tree.files = {{"f1/file", 4'096}};
            if (slow == Slow::listing) tree.slowList = {"f7"};
            if (slow == Slow::root) tree.slowStat = {"."};
            SlowMount mount(dir.path() / "mnt", tree);
            if (!mount.mounted()) GTEST_SKIP() << mount.problem();
            const auto root = mount.path();

            std::stop_source source;
            DepthRecorder visitor;
            PLDiskScanStats stats{};
            auto walked = std::async(std::launch::async, [&] {
                PLDiskWalkOptions options;
                options.threads = threads;
                options.stop = source.get_token();
                return pl_walk_disk(root.c_str(), options, visitor, stats);
            });
            ASSERT_TRUE(mount.waitForSlowCalls(1));
            const auto asked = std::chrono::steady_clock::now();
            source.request_stop();
            ASSERT_EQ(walked.wait_for(5s), std::future_status::ready)
                << static_cast<int>(slow) << " with " << threads << " threads";
            EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
            EXPECT_EQ(walked.get(), 0);
            EXPECT_EQ(stats.cancelled, 1);
        }
    }
}

// A mount point whose file system no longer answers (its stat sleeps 30 s)
// is known from the mount table: the walk names it, never asks it, and ends
// with everything beside it counted.
TEST(DiskWalk, AMountPointThatNoLongerAnswersIsCountedAndNeverAsked)
{
    // The table as the kernel writes it: a space as "\040", and a bind
    // mount of the root's own file system, which the walk may look at.
    const auto places = walk::mountsBelow("20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                          "21 20 0:50 / /home/ana/dead\\040share rw - fuse x rw\n"
                                          "22 20 8:1 /srv /home/ana/srv rw - ext4 /dev/sda1 rw\n"
                                          "23 20 0:51 / /other rw - tmpfs tmpfs rw\n",
                                          "/home/ana/");
    ASSERT_NE(places, nullptr);
    EXPECT_EQ(places->below.size(), 2U);
    const auto* share = places->find("dead share");
    ASSERT_NE(share, nullptr);
    EXPECT_TRUE(share->mountPoint && share->otherFileSystem);
    const auto* bound = places->find("srv");
    ASSERT_NE(bound, nullptr);
    EXPECT_TRUE(bound->mountPoint && !bound->otherFileSystem);

    for (const int threads : {1, 8}) {
        TempDir dir;
        testing::writeFile(dir.path() / "beside/file", 10);
        SlowTree tree;
        tree.folders = {"inside"};
        tree.slowStat = {"."};
        SlowMount mount(dir.path() / "dead-share", tree);
        if (!mount.mounted()) GTEST_SKIP() << mount.problem();

        DepthRecorder visitor;
        PLDiskScanStats stats{};
        auto walked = std::async(std::launch::async, [&] {
            PLDiskWalkOptions options;
            options.threads = threads;
            return pl_walk_disk(dir.path().c_str(), options, visitor, stats);
        });
        ASSERT_EQ(walked.wait_for(10s), std::future_status::ready) << threads << " threads";
        EXPECT_EQ(walked.get(), 0);
        EXPECT_EQ(stats.entries, 4U) << "the root, beside, its file and the mount point";
        EXPECT_EQ(stats.inaccessible, 0U);
        EXPECT_EQ(std::ranges::count(visitor.visits, std::make_pair(1U, std::string("dead-share"))), 1);
        EXPECT_EQ(mount.slowCallsBegun(), 0U);
    }
}

// A chain of folders 20,000 deep: every entry at its depth, with any thread
// count; a visitor that stops halfway down leaves the rest to be freed.
TEST(DiskWalk, ChainTwentyThousandFoldersDeepIsWalkedToItsEnd)
{
    const TempDir dir(fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    constexpr int depth = 20'000;
    testing::makeChain(dir.path(), depth);
    struct ChainCleanup {
        fs::path root;
        ~ChainCleanup() { testing::removeChain(root, depth); }
    } cleanup{dir.path()};

    for (const int threads : {1, 8}) {
        DepthRecorder visitor;
        PLDiskScanStats stats{};
        PLDiskWalkOptions options;
        options.threads = threads;
        options.skipPrivacy = true;
        ASSERT_EQ(pl_walk_disk(dir.path().c_str(), options, visitor, stats), 0);
        EXPECT_EQ(stats.entries, static_cast<std::uint64_t>(depth + 2));
        EXPECT_EQ(stats.inaccessible, 0U);
        ASSERT_EQ(visitor.visits.size(), static_cast<std::size_t>(depth + 2));
        for (std::uint32_t i = 1; i <= depth; ++i)
            ASSERT_EQ(visitor.visits[i], std::make_pair(i, std::string("d"))) << threads << " threads";
        EXPECT_EQ(visitor.visits.back(), std::make_pair(static_cast<std::uint32_t>(depth + 1), std::string("end")));

        DepthRecorder halfway;
        halfway.stopAfter = depth / 2;
        ASSERT_EQ(pl_walk_disk(dir.path().c_str(), options, halfway, stats), 0);
        EXPECT_EQ(stats.cancelled, 1);
        EXPECT_EQ(halfway.visits.size(), static_cast<std::size_t>(depth / 2));
    }
}

// Paths are built only as deep as the skip rules look, which is two levels
// below the home folder the walk is given: "Library/Mail" there is left out
// and counted, a folder of that name deeper down is walked.
TEST(DiskWalk, LeavesOutAPrivacyFolderTwoLevelsBelowTheHome)
{
    const TempDir dir;
    const auto home = dir.path() / "deeper/home";
    const auto library = home / "Library";
    testing::writeFile(library / "Mail/inbox", 10);
    testing::writeFile(library / "Other/Mail/kept", 10);

    for (const bool skipPrivacy : {true, false}) {
        DepthRecorder visitor;
        PLDiskScanStats stats{};
        PLDiskWalkOptions options;
        options.threads = 4;
        options.skipPrivacy = skipPrivacy;
        options.privacy.home = home.string();
        ASSERT_EQ(pl_walk_disk(library.c_str(), options, visitor, stats), 0);
        EXPECT_EQ(stats.privacySkipped, skipPrivacy ? 1U : 0U);
        EXPECT_EQ(stats.entries, skipPrivacy ? 5U : 6U) << "Library, Mail, Other, its Mail and what they hold";
    }
}

}  // namespace
}  // namespace corvalent
