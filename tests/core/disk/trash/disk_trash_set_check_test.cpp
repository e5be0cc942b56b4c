// The last check of the other copies a move relies on: they are looked at by
// a helper of this program's own within a bound, never by a thread of it, so
// a copy on a disk that no longer answers holds neither the move nor anything
// after it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include "core/disk/trash/disk_items_apart.h"
#include "core/disk/trash/disk_trash.h"
#include "slow_mount.h"
#include "test_support.h"
#include "trash_test.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Kind;
using testing::SlowMount;
using testing::SlowTree;
using testing::TrashTest;
using testing::write;

DiskRecordedIdentity verified(DiskItemIdentity identity)
{
    return {std::move(identity), Kind::duplicateSetChanged};
}

TEST_F(TrashTest, AKeptCopyOnADiskThatNeverAnswersIsNotConfirmedAndNothingMoves)
{
    const auto offered = work / "downloads" / "dataset.zip";
    write(offered, "same bytes!");
    SlowTree tree;
    tree.files = {{"dataset.zip", 11}};
    tree.slowStat = {"."};
    tree.neverAnswers = true;
    SlowMount share(work / "backup", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    const auto kept = share.path() / "dataset.zip";

    auto request = DiskTrashExecutor::prepare(candidate(offered));
    auto keptAsVerified = request.identity;  // as verification saw it, before its disk stopped answering
    keptAsVerified.path = kept.string();
    request.recorded = {verified(keptAsVerified), verified(request.identity)};
    const auto start = std::chrono::steady_clock::now();
    expectRefused(
        Kind::notAnswering, [&] { DiskTrashExecutor::moveToTrash(request); },
        "“dataset.zip” in “" + share.path().string() +
            "” does not answer. Nothing was moved. Try again when its disk answers.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the check waited on the disk";
    EXPECT_TRUE(fs::exists(offered) && trashEmpty());
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U) << "a thread of this program waits on the disk";
    EXPECT_EQ(share.slowCallsBegunByChildrenOf(::getpid()), 1U) << "the helper that waits there";
}

TEST_F(TrashTest, ACopyThatAnswersIsLookedAtByAHelperAndTheMoveGoesThrough)
{
    const auto offered = work / "downloads" / "dataset.zip";
    write(offered, "same bytes!");
    SlowTree tree;
    tree.files = {{"dataset.zip", 11}};
    tree.slowStat = {"dataset.zip"};
    tree.delay = 100ms;
    SlowMount share(work / "backup", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    const auto kept = share.path() / "dataset.zip";

    auto keptIdentity = DiskItemIdentity::capture(kept.string());
    auto request = DiskTrashExecutor::prepare(candidate(offered));
    const auto looks = share.slowCallsBegun();
    const auto mine = share.slowCallsBegunBy(::getpid());

    // Seen, but not as recorded: the helper's answer is compared as a look of its own would be.
    keptIdentity.size += 1;
    request.recorded = {verified(keptIdentity), verified(request.identity)};
    expectRefused(Kind::duplicateSetChanged, [&] { DiskTrashExecutor::moveToTrash(request); });
    EXPECT_TRUE(fs::exists(offered));

    keptIdentity.size -= 1;
    request.recorded = {verified(keptIdentity), verified(request.identity)};
    const auto receipt = DiskTrashExecutor::moveToTrash(request);
    EXPECT_EQ(receipt.originalPath, offered.string());
    EXPECT_FALSE(fs::exists(offered));
    EXPECT_GE(share.slowCallsBegun(), looks + 2) << "each check looked at the kept copy";
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), mine) << "the kept copy was looked at by this program";
}

// A helper cut off mid-answer confirms nothing past its last whole answer.
TEST(DiskItemsApart, OnlyWholeAnswersCount)
{
    struct stat info {};
    info.st_ino = 42;
    info.st_mtim = {1'700'000'000, 999'999'999};
    info.st_size = -1;
    const auto whole = DiskItemsApart::encode(info) + DiskItemsApart::encode(std::nullopt);
    const auto next = DiskItemsApart::encode(info);
    const auto answers = DiskItemsApart::decode(whole + next.substr(0, next.size() - 1));
    ASSERT_EQ(answers.size(), 2U);
    ASSERT_TRUE(answers[0]);
    EXPECT_EQ(answers[0]->st_ino, 42U);
    EXPECT_EQ(answers[0]->st_mtim.tv_nsec, 999'999'999);
    EXPECT_EQ(answers[0]->st_size, -1);
    EXPECT_FALSE(answers[1]);
    EXPECT_TRUE(DiskItemsApart::decode(next.substr(0, 5) + '\0' + next).empty()) << "a garbled answer ends the rest";
}

}  // namespace
}  // namespace corvalent
