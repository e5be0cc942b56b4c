// The volume list while a disk that never answers is mounted: the computer's
// own disk and every disk that answers come within the bound, no thread of
// the caller waits on the dead disk, and a mount whose reader is still held
// is not read again.
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

    const auto reads = std::make_shared<MountReads>();
    for (int call = 1; call <= 2; ++call) {
        const auto start = std::chrono::steady_clock::now();
        const auto volumes = DiskScanner::volumes(reads, 1'500ms);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << call;
        ASSERT_FALSE(volumes.empty());
        EXPECT_EQ(volumes.front().id, "/");
        const auto listed = [&](const fs::path& path) {
            return std::ranges::find(volumes, path.string(), &DiskVolume::id);
        };
        ASSERT_NE(listed(answering.path()), volumes.end()) << "a disk that answers is listed";
        EXPECT_EQ(listed(answering.path())->capacity, DiskCapacity::make("answering", 1ULL << 30, 1ULL << 29));
        EXPECT_EQ(listed(dead.path()), volumes.end());
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

}  // namespace
}  // namespace corvalent
