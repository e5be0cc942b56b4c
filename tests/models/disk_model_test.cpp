#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "models/disk_model.h"
#include "disk_model_fixtures.h"
#include "drain_lanes.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Kind = DiskModelStatus::Kind;
using testing::writeFile;

using testing::await;
using testing::Harness;
constexpr auto volume = testing::listedVolume;

// The model's signals in the order it sends them, from its construction on;
// a run of progress reports is one entry.
class SignalLog {
public:
    explicit SignalLog(DiskModel& model)
    {
        const std::pair<const char*, void (DiskModel::*)()> areas[] = {
            {"volumes", &DiskModel::volumesChanged},      {"scan", &DiskModel::scanChanged},
            {"progress", &DiskModel::progressChanged},    {"result", &DiskModel::resultChanged},
            {"insights", &DiskModel::insightsChanged},    {"trash", &DiskModel::trashChanged},
            {"duplicates", &DiskModel::duplicatesChanged}};
        for (const auto& [name, signal] : areas)
            QObject::connect(&model, signal, &receiver_, [this, name = std::string(name)] {
                if (name != "progress" || sent_.empty() || sent_.back() != name) sent_.push_back(name);
            });
    }
    // What was sent since the last look.
    std::vector<std::string> take() { return std::exchange(sent_, {}); }
    std::set<std::string> takeSet()
    {
        const auto sent = take();
        return {sent.begin(), sent.end()};
    }

private:
    QObject receiver_;  // disconnects when the log goes
    std::vector<std::string> sent_;
};

TEST(DiskModel, ScansPublishTotalsEstimatesTheHoldingVolumeAndVerifiedDuplicates)
{
    const testing::TempDir dir;
    const auto mount = fs::canonical(dir.path()) / "vol", tree = mount / "tree";
    // Two files alike, two of one size but one byte apart, and a small one further down.
    for (const auto* name : {"a/one", "b/two"}) writeFile(tree / name, 10'000'000);
    writeFile(tree / "c/three", 10'000'001);
    std::ofstream(tree / "four") << std::string(10'000'000, 'x') << 'z';
    writeFile(tree / "d/e/small", 5'000);
    fs::create_directory_symlink(tree, dir.path() / "link");
    const auto sibling = fs::canonical(dir.path()) / "volume";  // only begins like the mount
    for (const auto* empty : {"a/zero", "a/b/zero"}) writeFile(sibling / empty, 0);

    Harness harness;
    auto& model = harness.model;
    const auto other = volume("/mnt/other", 2'000'000'000, 1'000'000'000);
    const auto system = volume("/", 1'000'000'000'000, 400'000'000'000);
    const auto held = volume(mount.string(), 8'000'000'000, 3'000'000'000);
    for (const auto& listed : {std::vector{other, system}, std::vector{system, held, other}}) {
        harness.volumeList = listed;
        ASSERT_TRUE(await([&](auto done) { model.loadVolumes(false, done); }));
    }
    EXPECT_EQ(model.volumes().size(), 2U) << "loaded once unless forced";
    EXPECT_EQ(model.selectedVolumeID(), "/") << "the root volume before the first listed";
    ASSERT_TRUE(await([&](auto done) { model.loadVolumes(true, done); }));

    model.scan((dir.path() / "link").string());
    EXPECT_EQ(model.scanningPath(), (dir.path() / "link").string()) << "resolved off the GUI thread, not yet";
    ASSERT_TRUE(harness.scanEnded());
    EXPECT_EQ(model.scanningPath(), tree.string()) << "the link is resolved";
    EXPECT_EQ(model.capacity(), held.capacity) << "the longest holding path wins";
    EXPECT_FALSE(model.estimatedTotalBytes()) << "nothing to go by on a first scan";
    EXPECT_EQ(model.status(), (DiskModelStatus{Kind::ready, {}}));
    ASSERT_TRUE(model.result());
    const auto scanned = model.result()->root;
    EXPECT_EQ(std::pair(scanned.path, scanned.fileCount), std::pair(std::optional(tree.string()), std::int64_t{5}));
    std::optional<DiskDuplicateGroup> same, differ;
    for (const auto& group : model.result()->potentialDuplicateGroups)
        (group.logicalBytesPerFile == 10'000'000 ? same : differ) = group;
    ASSERT_TRUE(same && differ);
    model.verifyDuplicates(*same);
    model.verifyDuplicates(*differ);
    EXPECT_EQ(model.verifyingDuplicateGroupID(), same->id) << "one verification at a time";
    model.cancelDuplicateVerification();
    model.verifyDuplicates(*differ);
    EXPECT_EQ(model.verifyingDuplicateGroupID(), differ->id) << "the next starts at once after a cancel";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    drainLanes();
    EXPECT_EQ(model.duplicateMessage(), "Same size, but contents differ.");
    EXPECT_EQ(model.verifiedDuplicateSets().count(same->id), 0U) << "the cancelled one publishes nothing";
    EXPECT_TRUE(model.verifiedDuplicateSets().at(differ->id).empty());
    model.verifyDuplicates(*same);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    EXPECT_EQ(model.duplicateMessage(), "Verified 2 identical files.");
    EXPECT_EQ(model.verifiedDuplicateSets().at(same->id).size(), 1U);

    // An estimate stays after a normal finish.
    ASSERT_TRUE(harness.scanToEnd(tree));
    EXPECT_EQ(model.estimatedTotalBytes(), scanned.bytes) << "a rescan is measured against the last scan";
    ASSERT_TRUE(harness.scanToEnd(mount));
    EXPECT_EQ(model.estimatedTotalBytes(), held.capacity.used()) << "a whole volume against its used space";
    // No file data: a failure, with the result still shown.
    ASSERT_TRUE(harness.scanToEnd(sibling));
    EXPECT_EQ(model.selectedVolumeID(), "/") << "a name that only begins like the mount is not on it";
    EXPECT_EQ(model.status(), DiskModelStatus::failed("No readable file data was found in this folder."));
    EXPECT_EQ(model.result()->root.path, sibling.string());
}

// A copy alike only to a copy in another home's Trash duplicates nothing:
// with the other copy outside every Trash different, the contents differ.
TEST(DiskModel, CopiesAlikeOnlyToACopyInATrashAreNoSet)
{
    const testing::TempDir dir;
    const auto homes = fs::canonical(dir.path());
    for (const auto* copy : {"bob/.local/share/Trash/files/z.bin", "ana/a/z.bin"}) writeFile(homes / copy, 10'000'000);
    fs::create_directories(homes / "ana/b");
    std::ofstream(homes / "ana/b/z.bin") << std::string(10'000'000, 'y');

    Harness harness;
    auto& model = harness.model;
    ASSERT_TRUE(harness.scanToEnd(homes));
    ASSERT_EQ(model.result()->potentialDuplicateGroups.size(), 1U);
    const auto group = model.result()->potentialDuplicateGroups.front();
    ASSERT_EQ(group.files.size(), 3U);
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    EXPECT_EQ(model.duplicateMessage(), "Same size, but contents differ.");
    EXPECT_TRUE(model.verifiedDuplicateSets().at(group.id).empty()) << "the card shows that the contents differ";
}

TEST(DiskModel, StoppedAndSupersededScans)
{
    const testing::TempDir dir;
    const auto large = fs::canonical(dir.path()) / "large", small = fs::canonical(dir.path()) / "small";
    for (int i = 0; i < 300; ++i) writeFile(large / ("d" + std::to_string(i % 30)) / ("f" + std::to_string(i)), 1);
    for (const auto* name : {"a", "b", "c"}) writeFile(small / name, 5'000);

    // The later of two scans wins; nothing of the first arrives after it.
    std::set<std::string> seen;  // the path scanned and the result shown at every change
    std::int64_t most = 0;       // files in any progress report
    Harness harness;             // after what its signals reach
    auto& model = harness.model;
    model.scan(large.string());
    for (auto signal : {&DiskModel::scanChanged, &DiskModel::resultChanged})
        QObject::connect(&model, signal, [&] {
            seen.insert(model.scanningPath());
            if (model.result()) seen.insert(model.result()->root.path.value_or("none"));
        });
    QObject::connect(&model, &DiskModel::progressChanged, [&] { most = std::max(most, model.scannedFiles()); });
    ASSERT_TRUE(harness.scanToEnd(small));
    drainLanes();
    EXPECT_EQ(model.result() ? model.result()->root.path : std::nullopt, small.string());
    EXPECT_EQ(seen, std::set{small.string()});
    EXPECT_LE(most, 3) << "a progress report of the first scan";
    ASSERT_TRUE(harness.scanToEnd(large));

    // Stopped while its walk is held on a folder whose listing sleeps (a
    // tree mounted over the large one, its files before the held folders):
    // a partial result is kept only when it holds data.
    testing::SlowTree tree;
    tree.folders = {"a", "b", "slow", "slower"};
    tree.files = {{"a/one", 4'096}, {"b/two", 4'096}, {"b/three", 4'096}};
    tree.slowList = {"slow", "slower"};
    testing::SlowMount held(large, tree);
    if (!held.mounted()) GTEST_SKIP() << held.problem();
    const auto stopWhileHeld = [&](const fs::path& root, std::optional<std::uint64_t> estimate, std::int64_t found) {
        const auto before = model.result();
        model.scan(root.string());
        if (estimate) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return model.estimatedTotalBytes() == estimate; }, 10'000));
        }
        // The first scan's listing of "slow" holds it from its start; a later
        // listing of it waits behind that one, in the kernel.
        ASSERT_TRUE(held.waitForSlowCalls(1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.scannedFiles() == found; }, 10'000));
        model.stopScan();
        EXPECT_TRUE(model.stopping());
        ASSERT_TRUE(harness.scanEnded());
        EXPECT_FALSE(model.stopping());
        EXPECT_FALSE(model.estimatedTotalBytes());
        EXPECT_EQ(model.status().kind, Kind::ready);
        if (found == 0) {
            EXPECT_EQ(model.result(), before) << "an empty partial result replaces nothing";
            return;
        }
        ASSERT_TRUE(model.result()->cancelled);
        EXPECT_TRUE(model.result()->scannedEntries > 1 || model.result()->root.fileCount >= 1);
        EXPECT_EQ(model.scannedFiles(), model.result()->root.fileCount);
    };
    stopWhileHeld(large / "slow", std::nullopt, 0);
    stopWhileHeld(large, model.result()->root.bytes, 3);
}

TEST(DiskModel, AnotherVolumeClearsWhatBelongedToTheLastOne)
{
    const testing::DrainedTempHome temp;
    writeFile(temp.home / ".cache/app/blob", 3'000'000);
    for (const auto* copy : {"films/a.mkv", "films/b.mkv"}) writeFile(temp.home / copy, 10'000'000);
    const auto other = volume("/mnt/other", 2'000'000'000, 1'000'000'000);
    Harness harness{{volume("/", 1'000'000'000'000, 500'000'000'000), other}};
    auto& model = harness.model;
    ASSERT_TRUE(await([&](auto done) { model.loadVolumes(false, done); }));
    ASSERT_TRUE(harness.scanToEnd(temp.home));
    model.setViewActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.cleanupCandidates().empty() && model.rescuePlan(); }, 10'000));
    ASSERT_TRUE(harness.moved(model.cleanupCandidate((temp.home / ".cache/app/blob").string(), 3'000'000, false)));
    ASSERT_EQ(model.result()->potentialDuplicateGroups.size(), 1U);
    const auto group = model.result()->potentialDuplicateGroups.front();
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    ASSERT_TRUE(model.mapNeedsRefresh() && model.cleanupMessage() && model.duplicateMessage() &&
                model.reconciliation() && !model.verifiedDuplicateSets().empty());
    model.verifyDuplicates(group);  // still running at the switch

    SignalLog log(model);
    for (const auto* ignored : {"/", "/mnt/unlisted"}) model.selectVolume(ignored);
    EXPECT_TRUE(log.take().empty()) << "the selected volume, or one not listed, changes nothing";
    model.selectVolume(other.id);
    EXPECT_EQ(model.selectedVolumeID(), other.id);
    EXPECT_EQ(model.capacity(), other.capacity);
    EXPECT_EQ(model.status(), DiskModelStatus{});
    EXPECT_EQ(std::tuple(model.scannedEntries(), model.scannedFiles(), model.scannedBytes(), model.scanningPath()),
              std::tuple(0, 0, 0U, std::string()));
    EXPECT_FALSE(model.result() || model.estimatedTotalBytes() || model.reconciliation() || model.rescuePlan());
    EXPECT_TRUE(model.cleanupCandidates().empty() && model.activeStorageSummaries().empty());
    EXPECT_FALSE(model.cleanupMessage() || model.mapNeedsRefresh());
    EXPECT_FALSE(model.verifyingDuplicateGroupID() || model.duplicateMessage());
    EXPECT_TRUE(model.verifiedDuplicateSets().empty());
    EXPECT_EQ(model.recentTrash().size(), 1U) << "moves can still be undone";
    EXPECT_EQ(log.takeSet(), (std::set<std::string>{"volumes", "scan", "result", "insights", "trash", "duplicates"}))
        << "every area it cleared";
    drainLanes();
    EXPECT_TRUE(model.verifiedDuplicateSets().empty() && !model.duplicateMessage())
        << "the verification running at the switch publishes nothing";
}

// A change sends the signals of the areas it touched and no others, so a view
// that reads one area is not redrawn for another.
TEST(DiskModel, EachChangeSendsOnlyTheSignalsOfItsAreas)
{
    using Sent = std::vector<std::string>;
    using Areas = std::set<std::string>;
    const testing::DrainedTempHome temp;
    const auto blob = temp.home / ".cache/app/blob";
    writeFile(blob, 3'000'000);
    for (const auto* copy : {"films/a.mkv", "films/b.mkv"}) writeFile(temp.home / copy, 10'000'000);
    const auto other = volume("/mnt/other", 2'000'000'000, 1'000'000'000);
    Harness harness{{volume("/", 1'000'000'000'000, 500'000'000'000), other}};
    auto& model = harness.model;
    SignalLog log(model);

    ASSERT_TRUE(await([&](auto done) { model.loadVolumes(false, done); }));
    drainLanes();
    EXPECT_EQ(log.take(), Sent{"volumes"});
    // Before any scan a switch leaves nothing else to clear.
    model.selectVolume(other.id);
    model.selectVolume("/");
    drainLanes();
    EXPECT_EQ(log.take(), (Sent{"volumes", "volumes"}));

    // Progress reports come between the start and the end, and carry nothing else.
    ASSERT_TRUE(harness.scanToEnd(temp.home));
    drainLanes();
    EXPECT_EQ(log.take(), (Sent{"scan", "scan", "progress", "scan", "result", "insights"}));

    ASSERT_EQ(model.result()->potentialDuplicateGroups.size(), 1U);
    model.verifyDuplicates(model.result()->potentialDuplicateGroups.front());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    drainLanes();
    EXPECT_EQ(log.take(), (Sent{"duplicates", "duplicates"}));

    // A move and its undo reload the capacities and the candidates; the scan,
    // its result and the verified copies stay.
    ASSERT_TRUE(harness.moved(model.cleanupCandidate(blob.string(), 3'000'000, false)));
    drainLanes();
    EXPECT_EQ(log.takeSet(), (Areas{"trash", "insights", "volumes"}));
    const auto receipt = model.recentTrash().front();
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    drainLanes();
    EXPECT_EQ(log.takeSet(), (Areas{"trash", "insights", "volumes"}));
}

}  // namespace
}  // namespace corvalent
