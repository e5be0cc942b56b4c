// A scan held by a hung file system before its walk, while its root's path
// is resolved (the lookup of the root asks for its stat, which sleeps): a stop
// ends it after the grace, rescans of that root wait for the held call
// instead of adding one, and a scan of another folder runs at once, even with
// one thread in the files lane. Moves to the Trash while a disk never answers,
// or a folder holding a copy the move relies on.
// A slow disk's late answer kept from one volume load to the next.
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

#include "disk_model_fixtures.h"
#include "drain_lanes.h"
#include "models/disk_model.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = DiskModelStatus::Kind;
using testing::SlowMount;
using testing::SlowTree;

// The files lane with a single thread until the test ends: a blocked job
// then holds the only one.
struct OneThreadFilesLane {
    const int saved = BackgroundTask::pool(TaskLane::files).maxThreadCount();
    OneThreadFilesLane() { BackgroundTask::pool(TaskLane::files).setMaxThreadCount(1); }
    ~OneThreadFilesLane()
    {
        drainLanes();
        BackgroundTask::pool(TaskLane::files).setMaxThreadCount(saved);
    }
};

TEST(DiskModelOnAHungFileSystem, AStopEndsTheScanRescansWaitAndAnotherScanRunsAtOnce)
{
    const testing::TempDir dir;
    const auto base = fs::canonical(dir.path());
    const auto other = base / "other";
    for (const char* name : {"a", "b/c"}) testing::writeFile(other / name, 5'000);

    OneThreadFilesLane lane;
    auto environment = testing::systemWithoutSnapshots();
    environment.volumes = [] { return std::vector<DiskVolume>{}; };
    environment.stopGraceMilliseconds = 200;
    DiskModel model(environment);

    // Gone first, failing the call still sleeping, so that the lane drains.
    SlowTree tree;
    tree.folders = {"share/a"};
    tree.slowStat = {"share"};
    SlowMount mount(base / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto held = (mount.path() / "share").string();

    model.scan(held);
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    const auto stopped = std::chrono::steady_clock::now();
    model.stopScan();
    EXPECT_TRUE(model.stopping());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.stopping(); }, 5'000)) << "still stopping after 5 s";
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
    EXPECT_NE(model.status().kind, Kind::scanning);

    for (int i = 0; i < 6; ++i) {
        model.scan(held);
        EXPECT_EQ(model.status().kind, Kind::scanning);
        model.stopScan();
        EXPECT_NE(model.status().kind, Kind::scanning) << "a scan waiting for the held call ends at once";
    }
    EXPECT_FALSE(mount.waitForSlowCalls(2, 1s)) << "a rescan added a call on the hung root";

    model.scan(other.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 10'000))
        << "the next scan waits behind the blocked one";
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.result()->root.path, other.string());
    EXPECT_EQ(model.result()->root.fileCount, 2);
    EXPECT_EQ(mount.slowCallsBegun(), 1U);
    EXPECT_EQ(mount.slowCallsEnded(), 0U) << "the held call ended: nothing was shown";

    // Once the held call returns, a rescan that waited for it starts.
    model.scan(held);
    mount.unmount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 10'000));
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.result()->root.path, held);
}

// Items of an ordinary folder go to the Trash while a disk never answers:
// the volume list read after each move leaves that disk out in time, and
// neither the preparation nor the move waits behind a scan held in it, even
// with one thread in the files lane.
TEST(DiskModelOnAHungFileSystem, TheTrashAnswersWhileADiskNeverAnswers)
{
    const testing::TempHome temp;
    const auto items = temp.home / "junk";
    for (const char* name : {"first.bin", "second.bin"}) testing::writeFile(items / name, 100'000);

    OneThreadFilesLane lane;
    DiskModel model(testing::systemWithoutSnapshots());

    SlowTree tree;
    tree.folders = {"a"};
    tree.slowStat = tree.slowStatfs = {"."};
    tree.neverAnswers = true;
    tree.source = "/dev/corvalent-test-disk";
    SlowMount mount(temp.root.path() / "disk", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    const auto move = [&](const fs::path& item) {
        const auto start = std::chrono::steady_clock::now();
        std::optional<DiskTrashRequest> request;
        bool prepared = false, moved = false;
        model.prepareTrash(model.cleanupCandidate(item.string(), 100'000, false), [&](auto ready) {
            request = std::move(ready);
            prepared = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return prepared; }, 10'000)) << "still preparing " << item;
        if (!request) return false;
        model.moveToTrash(*request, [&] { moved = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return moved; }, 10'000)) << "still moving " << item;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << item;
        return moved && !fs::exists(item) && !model.cleanupInProgress();
    };

    const auto self = ::getpid();
    ASSERT_TRUE(move(items / "first.bin")) << model.cleanupMessage().value_or("").toStdString();
    EXPECT_EQ(mount.slowCallsBegunByChildrenOf(self), 1U) << "the list after the move looked at the disk";
    ASSERT_FALSE(model.volumes().empty());
    EXPECT_EQ(model.volumes().front().id, "/");

    model.scan(mount.path().string());
    ASSERT_TRUE(testing::eventually([&] { return mount.slowCallsBegunBy(self) == 1; })) << "the scan is held";
    ASSERT_TRUE(move(items / "second.bin")) << model.cleanupMessage().value_or("").toStdString();
    EXPECT_EQ(model.recentTrash().size(), 2U);
}

// A copy of a verified set whose folder stopped answering after Verify: the
// move of another copy ends refused, nothing moves, the set stays verified
// (it was not seen changed), no thread of the program waits on the folder,
// and the next move and its Undo go through.
TEST(DiskModelOnAHungFileSystem, ACopyWhoseFolderStoppedAnsweringHoldsNoMove)
{
    const testing::TempHome temp;
    const auto kept = temp.home / "backup" / "dataset.zip";
    const auto offered = temp.home / "downloads" / "dataset.zip";
    const auto other = temp.home / "junk" / "other.bin";
    for (const auto& copy : {kept, offered}) testing::writeFile(copy, 10'000'000);
    testing::writeFile(other, 100'000);

    DiskModel model(testing::systemWithoutSnapshots());
    model.scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 60'000));
    ASSERT_TRUE(model.result() && model.result()->potentialDuplicateGroups.size() == 1);
    const auto group = model.result()->potentialDuplicateGroups.front();
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    ASSERT_EQ(model.duplicateMessage(), "Verified 2 identical files.");

    SlowTree tree;
    tree.slowStat = {"."};
    tree.neverAnswers = true;
    SlowMount mount(kept.parent_path(), tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    const auto move = [&](const fs::path& item, std::uint64_t bytes) {
        std::optional<DiskTrashRequest> request;
        const auto candidate = model.cleanupCandidate(item.string(), bytes, false);
        EXPECT_TRUE(testing::await([&](auto done) {
            model.prepareTrash(candidate, [&request, done](auto ready) { request = std::move(ready), done(); });
        }));
        return request && testing::await([&](auto done) { model.moveToTrash(*request, done); }, 10'000);
    };
    ASSERT_TRUE(move(offered, 10'000'000)) << "the move still waits";
    EXPECT_TRUE(model.cleanupMessage().value_or("").contains("does not answer"));
    EXPECT_TRUE(fs::exists(offered));
    EXPECT_FALSE(model.cleanupInProgress());
    EXPECT_TRUE(model.recentTrash().empty());
    EXPECT_TRUE(model.verifiedDuplicateSets().contains(group.id));

    ASSERT_TRUE(move(other, 100'000));
    ASSERT_FALSE(fs::exists(other)) << model.cleanupMessage().value_or("").toStdString();
    ASSERT_EQ(model.recentTrash().size(), 1U);
    ASSERT_TRUE(testing::await([&](auto done) { model.restore(model.recentTrash().front(), done); }));
    EXPECT_TRUE(fs::exists(other)) << model.cleanupMessage().value_or("").toStdString();
    EXPECT_EQ(mount.slowCallsBegunBy(::getpid()), 0U) << "a thread of the program waits on the folder";
    EXPECT_GE(mount.slowCallsBegunByChildrenOf(::getpid()), 1U) << "the helper that waits there";
}

// A disk whose figures take 2.5 s: the first load names it as not
// responding, and once its answer has come a load lists it; loads before
// that name it at once.
TEST(DiskModelOnAHungFileSystem, ASlowDiskNamedOnTheFirstLoadIsListedOnTheNext)
{
    const testing::TempHome temp;
    DiskModel model(testing::systemWithoutSnapshots());

    SlowTree tree;
    tree.slowStatfs = {"."};
    tree.delay = 2'500ms;
    tree.source = "/dev/corvalent-test-disk";
    SlowMount mount(temp.root.path() / "slow", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto id = mount.path().string();
    const auto load = [&] {
        bool loaded = false;
        model.loadVolumes(true, [&] { loaded = true; });
        return QTest::qWaitFor([&] { return loaded; }, 10'000);
    };
    const auto listed = [&] { return std::ranges::count(model.volumes(), id, &DiskVolume::id) == 1; };
    const auto named = [&] {
        return std::ranges::count(model.notRespondingVolumes(), id, &DiskUnresponsiveVolume::id) == 1;
    };

    ASSERT_TRUE(load());
    EXPECT_FALSE(listed());
    EXPECT_TRUE(named());
    // The file system answers before its reader has handed the figures on.
    ASSERT_TRUE(testing::eventually([&] { return mount.slowCallsEnded() >= 1; }, 10s));
    ASSERT_TRUE(testing::eventually([&] { return load() && listed(); }, 10s));
    EXPECT_FALSE(named());
}

}  // namespace
}  // namespace corvalent
