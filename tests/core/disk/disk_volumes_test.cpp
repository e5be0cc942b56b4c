// The volume list while a disk that never answers is mounted: the computer's
// own disk and every disk that answers come within the bound, and a mount
// whose reader is still held is not read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <unistd.h>

#include "core/disk/disk.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::SlowMount;
using testing::SlowTree;

// A tree served as a disk ("/dev/..."), whose root's stat and figures
// (statfs) never answer when told.
SlowTree disk(bool answers)
{
    SlowTree tree;
    tree.folders = {"a"};
    if (!answers) tree.slowStat = tree.slowStatfs = {"."};
    tree.neverAnswers = !answers;
    tree.source = "/dev/corvalent-test-disk";
    return tree;
}

struct Listed {
    std::vector<DiskVolume> volumes;
    std::chrono::steady_clock::duration took{};

    bool has(const fs::path& path) const
    {
        return std::ranges::any_of(volumes, [&](const DiskVolume& v) { return v.id == path.string(); });
    }
};

Listed listWith(const std::shared_ptr<MountReads>& reads)
{
    const auto start = std::chrono::steady_clock::now();
    auto volumes = DiskScanner::volumes(reads, 1'500ms);
    return {std::move(volumes), std::chrono::steady_clock::now() - start};
}

// Under `parent`: a disk that never answers and one that does.
void listsAroundADiskThatNeverAnswers(const fs::path& parent)
{
    const testing::TempDir dir(parent);
    SlowMount answering(dir.path() / "answering", disk(true));
    if (!answering.mounted()) GTEST_SKIP() << answering.problem();
    SlowMount dead(dir.path() / "dead", disk(false));
    ASSERT_TRUE(dead.mounted()) << dead.problem();

    const auto reads = std::make_shared<MountReads>();
    const auto first = listWith(reads);
    EXPECT_LT(first.took, 3s);
    ASSERT_FALSE(first.volumes.empty());
    EXPECT_EQ(first.volumes.front().id, "/");
    ASSERT_TRUE(first.has(answering.path())) << "a disk that answers is listed";
    const auto listed = *std::ranges::find(first.volumes, answering.path().string(), &DiskVolume::id);
    EXPECT_EQ(listed.capacity.total, 1ULL << 30);
    EXPECT_EQ(listed.capacity.available, 1ULL << 29);
    EXPECT_FALSE(first.has(dead.path()));
    const auto self = ::getpid();
    ASSERT_EQ(dead.slowCallsBegunBy(self), 1U);

    // The reader still waits there: no other is sent after it.
    const auto again = listWith(reads);
    EXPECT_LT(again.took, 3s);
    EXPECT_TRUE(again.has(answering.path()));
    EXPECT_FALSE(again.has(dead.path()));
    EXPECT_EQ(dead.slowCallsBegunBy(self), 1U);

    // Reads of their own do send one: what the log shows is what was sent.
    const auto fresh = listWith(std::make_shared<MountReads>());
    EXPECT_LT(fresh.took, 3s);
    EXPECT_EQ(dead.slowCallsBegunBy(self), 2U);
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

}  // namespace
}  // namespace corvalent
