// The volume list while a disk that never answers, or answers slowly, is
// mounted: the computer's own disk and every disk that answers come within
// the bound, no thread of the caller waits on the dead disk, a mount whose
// reader is still held is neither read again nor waited for and is named as
// not responding, and a slow disk's late answer with figures is kept for the
// next list.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "core/disk/disk.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::SlowMount;

// Under `parent`: a disk whose root's stat and figures never answer, and one that answers.
void listsAroundADiskThatNeverAnswers(const fs::path& parent)
{
    const testing::TempDir dir(parent);
    testing::SlowTree tree;
    tree.source = "/dev/corvalent-test-disk";
    SlowMount answering(dir.path() / "answering", tree);
    if (!answering.mounted()) GTEST_SKIP() << answering.problem();
    tree.slowStat = tree.slowStatfs = {"."};
    tree.neverAnswers = true;
    SlowMount dead(dir.path() / "dead", tree);
    ASSERT_TRUE(dead.mounted()) << dead.problem();

    const auto cache = std::make_shared<MountFigureCache>();
    for (int call = 1; call <= 2; ++call) {
        const auto start = std::chrono::steady_clock::now();
        const auto list = DiskScanner::volumes(cache, 1'500ms);
        const auto& volumes = list.volumes;
        // The first waits for the dead disk until its bound; the second does
        // not wait again for the reader the first left behind.
        EXPECT_LT(std::chrono::steady_clock::now() - start, call == 1 ? 3'000ms : 500ms) << call;
        ASSERT_FALSE(volumes.empty());
        EXPECT_EQ(volumes.front().id, "/");
        const auto listed = [&](const fs::path& path) {
            return std::ranges::find(volumes, path.string(), &DiskVolume::id);
        };
        ASSERT_NE(listed(answering.path()), volumes.end()) << "a disk that answers is listed";
        EXPECT_EQ(listed(answering.path())->capacity, DiskCapacity::make("answering", 1ULL << 30, 1ULL << 29));
        EXPECT_EQ(listed(dead.path()), volumes.end());
        // Other tests' mounts may come and go meanwhile: this one is named once.
        EXPECT_EQ(std::ranges::count(list.notResponding, DiskUnresponsiveVolume{dead.path().string(), "dead"}), 1)
            << call;
        // Only a child waits on the disk, and the second call sends no
        // reader after the one still held.
        EXPECT_EQ(dead.slowCallsBegunBy(::getpid()), 0U) << call;
        EXPECT_EQ(dead.slowCallsBegunByChildrenOf(::getpid()), 1U) << call;
    }
}

TEST(DiskVolumesWithADiskThatNeverAnswers, UnderMedia)
{
    if (::access("/media", W_OK) != 0) GTEST_SKIP() << "/media is missing or not writable here";
    listsAroundADiskThatNeverAnswers("/media");
}

TEST(DiskVolumesWithADiskThatNeverAnswers, InsideAHome)
{
    const testing::TempHome home;
    listsAroundADiskThatNeverAnswers(home.home);
}

// A reader that reached its deadline without figures leaves its mount
// answered late with none: nothing stands in for it, so the next list names
// it while a new reader is out.
TEST(DiskVolumesWithADiskThatNeverAnswers, NamedAfterAReaderEndedWithoutFigures)
{
    const testing::TempHome home;
    const testing::TempDir dir(home.home);
    testing::SlowTree tree;
    tree.source = "/dev/corvalent-test-disk";
    tree.slowStat = tree.slowStatfs = {"."};
    tree.neverAnswers = true;
    SlowMount dead(dir.path() / "dead", tree);
    if (!dead.mounted()) GTEST_SKIP() << dead.problem();
    std::ifstream mountInfo("/proc/self/mountinfo");
    const auto table = parseMountInfo(std::string(std::istreambuf_iterator<char>(mountInfo), {}));
    const auto* entry = mountHolding(table, dead.path().string());
    ASSERT_TRUE(entry != nullptr && entry->mountPoint == dead.path().string());

    const auto cache = std::make_shared<MountFigureCache>();
    const auto key = MountFigureCache::keyOf(*entry);
    ASSERT_TRUE(cache->beginRead(key));
    cache->endRead(key, std::nullopt, true);
    const auto list = DiskScanner::volumes(cache, 500ms);
    EXPECT_EQ(std::ranges::count(list.notResponding, DiskUnresponsiveVolume{dead.path().string(), "dead"}), 1);
    EXPECT_EQ(std::ranges::find(list.volumes, dead.path().string(), &DiskVolume::id), list.volumes.end());
}

TEST(DiskVolumesWithASlowDisk, NamedAsNotRespondingThenListedOnceItsAnswerCame)
{
    const testing::TempHome home;
    const testing::TempDir dir(home.home);
    testing::SlowTree tree;
    tree.source = "/dev/corvalent-test-disk";
    tree.slowStatfs = {"."};
    tree.delay = 2'500ms;
    SlowMount slow(dir.path() / "slow", tree);
    if (!slow.mounted()) GTEST_SKIP() << slow.problem();
    const auto id = slow.path().string();
    const auto cache = std::make_shared<MountFigureCache>();
    const auto listed = [&](const DiskVolumeList& list) {
        return std::ranges::find(list.volumes, id, &DiskVolume::id) != list.volumes.end();
    };
    const auto named = [&](const DiskVolumeList& list) {
        return std::ranges::find(list.notResponding, id, &DiskUnresponsiveVolume::id) != list.notResponding.end();
    };

    const auto first = DiskScanner::volumes(cache, 1'500ms);
    EXPECT_FALSE(listed(first));
    EXPECT_TRUE(named(first));
    ASSERT_FALSE(first.volumes.empty());
    EXPECT_EQ(first.volumes.front().id, "/");

    // Its answer comes after the list has gone, and is kept for the next.
    std::ifstream mountInfo("/proc/self/mountinfo");
    const auto table = parseMountInfo(std::string(std::istreambuf_iterator<char>(mountInfo), {}));
    const auto* entry = mountHolding(table, id);
    ASSERT_TRUE(entry != nullptr && entry->mountPoint == id);
    const auto key = MountFigureCache::keyOf(*entry);
    ASSERT_TRUE(testing::eventually([&] { return cache->mount(key).answered; }, 10s));
    const auto next = DiskScanner::volumes(cache, 1'500ms);
    ASSERT_TRUE(listed(next));
    EXPECT_FALSE(named(next));
    EXPECT_EQ(*std::ranges::find(next.volumes, id, &DiskVolume::id),
              (DiskVolume{id, "slow", id, DiskCapacity::make("slow", 1ULL << 30, 1ULL << 29), false, false}));

    // Asked again by the list before, it is not named while that answer is
    // out: the one it gave stands in.
    const auto third = DiskScanner::volumes(cache, 1'500ms);
    EXPECT_TRUE(listed(third));
    EXPECT_FALSE(named(third));
}

}  // namespace
}  // namespace corvalent
