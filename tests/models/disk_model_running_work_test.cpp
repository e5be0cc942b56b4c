// Storage of running work: which working folders claim what a scan counts,
// and how a moved item leaves the plan and the running work until restored.
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "core/common/paths.h"
#include "core/process/processes.h"
#include "models/disk_model.h"
#include "disk_model_fixtures.h"
#include "drain_lanes.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::await;
using testing::ChildProcess;
using testing::Harness;
using testing::writeFile;
constexpr auto volume = testing::listedVolume;

// Idle children under names of their own, each a group of its own.
struct Workers {
    fs::path bin;
    std::vector<std::unique_ptr<ChildProcess>> children;

    const ChildProcess& start(const std::string& name, const fs::path& workingFolder)
    {
        const auto program = testing::copyExecutable(testing::idleChildProgram(), bin, name);
        return *children.emplace_back(
            std::make_unique<ChildProcess>(program, std::vector<std::string>{}, workingFolder));
    }
    // The groups of a live sample that hold the children, in the children's order.
    std::vector<ProcessGroup> groups() const
    {
        const auto all = Classifier::groups(Scanner::scan().records, false);
        std::vector<ProcessGroup> held;
        for (const auto& child : children)
            for (const auto& group : all)
                if (std::ranges::any_of(group.members, [&](const ProcessRecord& m) { return m.pid == child->pid(); }))
                    held.push_back(group);
        return held;
    }
};

// A scan of the home with the children's groups running, and its insights.
void scanWithRunningWork(Harness& harness, const fs::path& home, const std::vector<ProcessGroup>& groups)
{
    ASSERT_TRUE(await([&](auto done) { harness.model.loadVolumes(false, done); }));
    harness.model.updateProcessGroups(groups);
    ASSERT_TRUE(harness.scanToEnd(home));
    harness.model.setViewActive(true);
    drainLanes();
    ASSERT_TRUE(harness.model.rescuePlan() && !harness.model.cleanupCandidates().empty());
}

// The desktop session and its shells work in the home folder itself, other
// programs above it: neither claims anything there. A program working in a
// project below the home claims the project.
TEST(DiskModel, OnlyWorkingFoldersBelowTheHomeClaimStorage)
{
    const testing::DrainedTempHome temp;
    const auto& home = temp.home;
    const auto project = home / "projects/shop", output = project / "build/out.bin";
    writeFile(home / ".cache/pip/wheel", 3'000'000);
    writeFile(home / "films/movie.mkv", 4'000'000);
    writeFile(output, 2'000'000);
    Workers workers{temp.root.path(), {}};
    workers.start("session", home);
    workers.start("panel", temp.root.path());
    workers.start("builder", project);
    const auto groups = workers.groups();
    ASSERT_EQ(groups.size(), 3U);
    const auto& builder = groups.back();

    Harness harness{{volume("/", 1'000'000'000'000, 500'000'000'000)}};
    auto& model = harness.model;
    ASSERT_NO_FATAL_FAILURE(scanWithRunningWork(harness, home, groups));
    ASSERT_EQ(model.result()->ownerStorage.size(), 1U);
    EXPECT_EQ(model.result()->ownerStorage.front().id, builder.id);
    ASSERT_EQ(model.activeStorageSummaries().size(), 1U) << "Running work on disk names the builder only";
    EXPECT_EQ(
        model.activeStorageSummaries().front().segments,
        (std::vector{DiskOwnerStorageSegment{DiskOwnerStorageKind::project, testing::allocatedBytes(output), 1}}));
    for (const auto& candidate : model.cleanupCandidates()) {
        const bool sharesTheProject =
            Paths::isAtOrBelow(candidate.path, project.string()) || Paths::isBelow(project.string(), candidate.path);
        EXPECT_EQ(candidate.activeOwners, sharesTheProject ? std::vector{builder.title} : std::vector<std::string>{})
            << candidate.path;
    }
    const auto pip = model.cleanupCandidate((home / ".cache/pip").string(), 3'000'000, true);
    EXPECT_EQ(pip.safety, DiskCleanupSafety::safe) << pip.reason;
    EXPECT_GT(model.rescuePlan()->lowRiskBytes, 0U);
}

// Until it is restored, a moved item counts nowhere on the review side: not
// in the candidates, the free-space plan or the storage of running work.
TEST(DiskModel, MovedItemsLeaveThePlanAndTheRunningWorkUntilRestored)
{
    const testing::DrainedTempHome temp;
    const auto& home = temp.home;
    const auto project = home / "projects/shop";
    const auto movie = home / "films/movie.mkv", data = project / "data.bin", notes = project / "notes.txt";
    writeFile(home / ".cache/app/blob", 3'000'000);
    writeFile(movie, 4'000'000);
    writeFile(data, 2'000'000);
    writeFile(notes, 100'000);
    Workers workers{temp.root.path(), {}};
    workers.start("builder", project);

    Harness harness{{volume("/", 1'000'000'000'000, 500'000'000'000)}};
    auto& model = harness.model;
    ASSERT_NO_FATAL_FAILURE(scanWithRunningWork(harness, home, workers.groups()));
    const auto plan = *model.rescuePlan();
    const auto running = model.activeStorageSummaries();
    ASSERT_EQ(running.size(), 1U);
    ASSERT_EQ(running.front().linkedItems, 2);
    const auto offered = [&](const fs::path& path) {
        const auto& list = model.cleanupCandidates();
        const auto found = std::ranges::find(list, path.string(), &DiskCleanupCandidate::path);
        return found == list.end() ? std::nullopt : std::optional(*found);
    };
    const auto film = offered(movie), inProject = offered(data);
    ASSERT_TRUE(film && inProject);
    ASSERT_EQ(std::pair(film->safety, inProject->safety),
              std::pair(DiskCleanupSafety::review, DiskCleanupSafety::review));

    ASSERT_TRUE(harness.moved(*film));
    drainLanes();
    EXPECT_EQ(model.rescuePlan()->reviewBytes, plan.reviewBytes - film->bytes);
    EXPECT_EQ(model.rescuePlan()->lowRiskBytes, plan.lowRiskBytes);
    EXPECT_EQ(model.activeStorageSummaries(), running) << "the film was no one's";

    ASSERT_TRUE(harness.moved(*inProject));
    drainLanes();
    EXPECT_EQ(model.rescuePlan()->reviewBytes, plan.reviewBytes - film->bytes - inProject->bytes);
    ASSERT_EQ(model.activeStorageSummaries().size(), 1U);
    const auto& left = model.activeStorageSummaries().front();
    EXPECT_EQ(std::pair(left.linkedBytes, left.linkedItems),
              std::pair(testing::allocatedBytes(notes), std::int64_t{1}));
    EXPECT_EQ(left.segments,
              (std::vector{DiskOwnerStorageSegment{DiskOwnerStorageKind::project, testing::allocatedBytes(notes), 1}}));

    // Restored, newest first: each counts again.
    for (const auto& receipt : std::vector(model.recentTrash()))
        ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    drainLanes();
    EXPECT_EQ(model.rescuePlan(), plan);
    EXPECT_EQ(model.activeStorageSummaries(), running);
    EXPECT_TRUE(offered(movie) && offered(data));
}

}  // namespace
}  // namespace corvalent
