// Process work and file work have pools of their own: with one thread each,
// as on a one-core machine, a job that blocks in one never holds back the other.
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "models/disk_model.h"
#include "models/vantle_model.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

// Jobs that wait until the test lets them go, on one-thread pools; let go
// and put back when the test ends, however it ends.
struct OneThreadLanes {
    std::atomic<bool> holdSample = false;
    std::atomic<bool> holdVolumes = false;
    int saved[2] = {BackgroundTask::pool(TaskLane::files).maxThreadCount(),
                    BackgroundTask::pool(TaskLane::processes).maxThreadCount()};

    OneThreadLanes()
    {
        for (const auto lane : {TaskLane::files, TaskLane::processes}) BackgroundTask::pool(lane).setMaxThreadCount(1);
    }
    ~OneThreadLanes()
    {
        holdSample = holdVolumes = false;
        for (const auto lane : {TaskLane::files, TaskLane::processes}) BackgroundTask::pool(lane).waitForDone();
        QCoreApplication::processEvents();
        BackgroundTask::pool(TaskLane::files).setMaxThreadCount(saved[0]);
        BackgroundTask::pool(TaskLane::processes).setMaxThreadCount(saved[1]);
    }
    static void waitWhile(const std::atomic<bool>& held)
    {
        while (held) std::this_thread::sleep_for(5ms);
    }
};

TEST(BackgroundLanes, ABlockedJobHoldsBackNoJobOfTheOtherLane)
{
    OneThreadLanes lanes;
    auto processes = VantleModelEnvironment::system();
    processes.sample = [&](const ScanResult* previous) {
        OneThreadLanes::waitWhile(lanes.holdSample);
        return Scanner::scan(previous);
    };
    VantleModel sampler(processes);
    auto files = DiskModelEnvironment::system();
    files.volumes = [&] {
        OneThreadLanes::waitWhile(lanes.holdVolumes);
        return std::vector<DiskVolume>{};
    };
    files.snapshotSummary = [](const std::string&, std::stop_token) { return std::optional<APFSSnapshotSummary>(); };
    DiskModel disk(files);

    bool sampled = false, listed = false;
    lanes.holdVolumes = true;
    disk.loadVolumes(true, [&] { listed = true; });
    sampler.refresh([&] { sampled = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return sampled; }, 10'000)) << "a sample while a file job is held";
    EXPECT_FALSE(listed);
    lanes.holdVolumes = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed; }, 10'000));

    sampled = listed = false;
    lanes.holdSample = true;
    sampler.refresh([&] { sampled = true; });
    disk.loadVolumes(true, [&] { listed = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed; }, 10'000)) << "a file job while a sample is held";
    EXPECT_FALSE(sampled);
    lanes.holdSample = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return sampled; }, 10'000));
}

}  // namespace
}  // namespace corvalent
