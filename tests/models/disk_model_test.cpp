#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "models/disk_model.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Kind = DiskModelStatus::Kind;
using testing::writeFile;

DiskVolume volume(const std::string& url, std::uint64_t total, std::uint64_t available)
{
    return {url, url, url, DiskCapacity::make(url, total, available), true, false};
}

// Lets every background job end and its result arrive.
void settle()
{
    for (int round = 0; round < 3; ++round, QCoreApplication::processEvents())
        EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(60'000));
}

// Runs an action that reports its end through a callback, and waits for it.
template <typename Action>
bool await(Action action)
{
    bool done = false;
    action([&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, 10'000);
}

// A model whose volume list and snapshot probe the test supplies, not the machine.
struct Harness {
    std::vector<DiskVolume> volumeList;
    DiskModel model{environment()};
    DiskModelEnvironment environment()
    {
        QSettings().clear();
        auto environment = DiskModelEnvironment::system();
        environment.volumes = [this] { return volumeList; };
        environment.snapshotSummary = [](const std::string&, std::stop_token) { return std::nullopt; };
        return environment;
    }
    ~Harness() { settle(); }
    bool scanEnded() const { return QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 60'000); }
    bool scanToEnd(const fs::path& path) { return model.scan(path.string()), scanEnded(); }
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
    EXPECT_EQ(model.scanningPath(), tree.string()) << "the link is resolved";
    EXPECT_EQ(model.capacity(), held.capacity) << "the longest holding path wins";
    EXPECT_FALSE(model.estimatedTotalBytes()) << "nothing to go by on a first scan";
    ASSERT_TRUE(harness.scanEnded());
    EXPECT_EQ(model.status(), (DiskModelStatus{Kind::ready, {}}));
    ASSERT_TRUE(model.result());
    const auto scanned = model.result()->root;
    EXPECT_EQ(std::pair(scanned.path, scanned.fileCount), std::pair(std::optional(tree.string()), std::int64_t{5}));
    std::optional<DiskDuplicateGroup> same, differ;
    for (const auto& group : model.result()->potentialDuplicateGroups)
        (group.logicalBytesPerFile == 10'000'000 ? same : differ) = group;
    ASSERT_TRUE(same && differ);
    model.verifyDuplicates(*same);
    model.cancelDuplicateVerification();
    EXPECT_FALSE(model.verifyingDuplicateGroupID());
    settle();
    EXPECT_TRUE(!model.duplicateMessage() && model.verifiedDuplicateSets().empty()) << "cancelled: nothing published";
    for (const auto& [group, message, sets] : {std::tuple(*differ, "Same size, but contents differ.", 0U),
                                               std::tuple(*same, "Verified 2 identical files.", 1U)}) {
        model.verifyDuplicates(group);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
        EXPECT_EQ(model.duplicateMessage(), message);
        EXPECT_EQ(model.verifiedDuplicateSets().at(group.id).size(), sets);
    }
    model.scan(tree.string());
    EXPECT_EQ(model.estimatedTotalBytes(), scanned.bytes) << "a rescan is measured against the last scan";
    model.scan(mount.string());
    EXPECT_EQ(model.estimatedTotalBytes(), held.capacity.used()) << "a whole volume against its used space";
    // No file data: a failure, with the result still shown.
    ASSERT_TRUE(harness.scanToEnd(sibling));
    EXPECT_EQ(model.selectedVolumeID(), "/") << "a name that only begins like the mount is not on it";
    EXPECT_EQ(model.status(), DiskModelStatus::failed("No readable file data was found in this folder."));
    EXPECT_EQ(model.result()->root.path, sibling.string());
}

TEST(DiskModel, StoppedAndSupersededScans)
{
    // Thirty thousand names, nearly all hard links: quick to make, slow enough to walk.
    const testing::TempDir dir;
    const auto large = fs::canonical(dir.path()) / "large", small = fs::canonical(dir.path()) / "small";
    for (int i = 0; i < 30'000; ++i) {
        const auto folder = large / ("d" + std::to_string(i % 300));
        i < 300 ? writeFile(folder / "f", 1) : fs::create_hard_link(folder / "f", folder / ("f" + std::to_string(i)));
    }
    for (const auto* name : {"a", "b", "c"}) writeFile(small / name, 5'000);

    // The later of two scans wins; nothing of the first arrives after it.
    std::set<std::string> seen;  // the path scanned and the result shown at every change
    std::int64_t most = 0;       // files in any progress report
    Harness harness;             // after what its signals reach
    auto& model = harness.model;
    model.scan(large.string());
    QObject::connect(&model, &DiskModel::changed, [&] {
        seen.insert(model.scanningPath());
        if (model.result()) seen.insert(model.result()->root.path.value_or("none"));
    });
    QObject::connect(&model, &DiskModel::progressChanged, [&] { most = std::max(most, model.scannedFiles()); });
    ASSERT_TRUE(harness.scanToEnd(small));
    settle();
    EXPECT_EQ(model.result() ? model.result()->root.path : std::nullopt, small.string());
    EXPECT_EQ(seen, std::set{small.string()});
    EXPECT_LE(most, 3) << "a progress report of the first scan";
    // Stopped before the walk gets far: a partial result is kept only when it holds data.
    const auto stopAtOnce = [&](std::optional<std::uint64_t> estimate) {
        const auto before = model.result();
        model.scan(large.string());
        EXPECT_EQ(model.estimatedTotalBytes(), estimate);
        model.stopScan();
        EXPECT_TRUE(model.stopping());
        ASSERT_TRUE(harness.scanEnded());
        EXPECT_FALSE(model.stopping());
        EXPECT_FALSE(model.estimatedTotalBytes());
        EXPECT_EQ(model.status().kind, Kind::ready);
        if (!model.result()->cancelled) {
            EXPECT_EQ(model.result(), before) << "an empty partial result replaces nothing";
            return;
        }
        EXPECT_TRUE(model.result()->scannedEntries > 1 || model.result()->root.fileCount >= 1);
        EXPECT_EQ(model.scannedFiles(), model.result()->root.fileCount);
    };
    stopAtOnce(std::nullopt);
    ASSERT_TRUE(harness.scanToEnd(large));
    stopAtOnce(model.result()->root.bytes);
}

// Points an environment variable elsewhere until the end of the scope, when no job reads it any more.
struct ScopedVariable {
    const char* name;
    std::optional<std::string> saved = std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
    ScopedVariable(const char* name, const std::string& value) : name(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedVariable() { settle(), saved ? ::setenv(name, saved->c_str(), 1) : ::unsetenv(name); }
};

TEST(DiskModel, MovesRestoresAndRefusesChangedOrProtectedItems)
{
    const testing::TempDir root;  // a home and a Trash of the test's own
    const auto home = fs::canonical(root.path()) / "home", data = fs::canonical(root.path()) / "data";
    const ScopedVariable homeVariable("HOME", home.string()), dataVariable("XDG_DATA_HOME", data.string());
    const auto blob = home / ".cache/app/blob", movie = home / "films/movie.mkv", store = home / "data/store.db";
    for (const auto& [file, size] : {std::pair(blob, 3'000'000), {movie, 2'000'000}, {store, 1'000'000}})
        writeFile(file, size);

    Harness harness{{volume("/", 1'000'000'000'000, 500'000'000'000)}};
    auto& model = harness.model;
    ASSERT_TRUE(harness.scanToEnd(home));
    model.setViewActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.cleanupCandidates().empty(); }, 10'000));
    const auto offers = [&](const std::string& path) {  // the path, or something inside it
        const auto within = [&](auto& candidate) { return (candidate.path + '/').starts_with(path + '/'); };
        return std::ranges::any_of(model.cleanupCandidates(), within);
    };
    const auto& list = model.cleanupCandidates();
    const auto cache = list.at(std::ranges::find(list, DiskCleanupSafety::safe, &DiskCleanupCandidate::safety) -
                               list.begin());  // the first safe one
    ASSERT_TRUE(cache.path.starts_with((home / ".cache/app").string())) << cache.path;
    const auto name = QString::fromStdString(std::string(cache.name()));
    const auto request = model.prepareTrash(cache);
    ASSERT_TRUE(request);
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*request, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Moved " + name + " to Trash.");
    ASSERT_EQ(model.recentTrash().size(), 1U);
    const auto receipt = model.recentTrash().front();
    settle();
    EXPECT_TRUE(offers(movie.string()));
    EXPECT_FALSE(offers(cache.path)) << "not even once the reloaded volumes recomputed insights from the old scan";
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Restored " + name + ".");
    EXPECT_TRUE(model.recentTrash().empty());
    settle();
    EXPECT_TRUE(offers(cache.path)) << "back in place, it is offered again";
    // Changed after the confirmation opened: appended to, or its mode changed.
    for (const bool append : {true, false}) {
        const auto reviewed = model.prepareTrash(model.cleanupCandidate(movie.string(), 2'000'000, false));
        ASSERT_TRUE(reviewed);
        if (append) std::ofstream(movie, std::ios::app) << "more";
        else fs::permissions(movie, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*reviewed, done); }));
        EXPECT_EQ(model.cleanupMessage(), "The item changed after it was reviewed. Scan it again before acting.");
        EXPECT_TRUE(model.recentTrash().empty());
        EXPECT_TRUE(fs::exists(movie));
    }
    // Protected: refused when the confirmation would open, and never moved.
    const auto kept = model.cleanupCandidate(store.string(), 1'000'000, false);
    EXPECT_FALSE(model.prepareTrash(kept));
    EXPECT_EQ(model.cleanupMessage(), "This location is protected by Corvalent.");
    bool done = false;
    model.moveToTrash({kept, DiskItemIdentity::capture(store.string())}, [&] { done = true; });
    EXPECT_TRUE(done) << "refused at once";
    settle();
    EXPECT_EQ(model.cleanupMessage(), "This location is protected by Corvalent.");
    EXPECT_TRUE(fs::exists(store));
}

}  // namespace
}  // namespace corvalent
