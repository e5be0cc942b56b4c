// A scan held by a hung file system: a stop ends it within a second, and the
// next scan of another folder runs at once, even with one thread in the files
// lane, while the first scan's listing still sleeps.
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>

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

TEST(DiskModelOnAHungFileSystem, AStopEndsTheScanAndTheNextScanRunsAtOnce)
{
    const testing::TempDir dir;
    const auto other = fs::canonical(dir.path()) / "other";
    for (const char* name : {"a", "b/c"}) testing::writeFile(other / name, 5'000);

    OneThreadFilesLane lane;
    QSettings().clear();
    auto environment = DiskModelEnvironment::system();
    environment.volumes = [] { return std::vector<DiskVolume>{}; };
    environment.snapshotSummary = [](const std::string&, std::stop_token) { return std::nullopt; };
    DiskModel model(environment);

    // Gone first, failing the call still sleeping, so that the lane drains.
    SlowTree tree;
    for (int i = 0; i < 40; ++i) tree.folders.push_back("folder" + std::to_string(i));
    tree.folders.push_back("folder7/hung");
    tree.slowList = {"folder7/hung"};
    SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    model.scan(mount.path().string());
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    const auto stopped = std::chrono::steady_clock::now();
    model.stopScan();
    EXPECT_TRUE(model.stopping());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.stopping(); }, 5'000)) << "still stopping after 5 s";
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
    EXPECT_NE(model.status().kind, Kind::scanning);

    model.scan(other.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 10'000))
        << "the next scan waits behind the blocked one";
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.result()->root.path, other.string());
    EXPECT_EQ(model.result()->root.fileCount, 2);
    EXPECT_EQ(mount.slowCallsEnded(), 0U) << "the hung listing ended: nothing was shown";
}

}  // namespace
}  // namespace corvalent
