#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "models/disk_model.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Kind = DiskModelStatus::Kind;
using testing::TempDir;
using testing::writeFile;

DiskVolume volume(const std::string& url, std::uint64_t total, std::uint64_t available)
{
    return {url, url, url, DiskCapacity::make(url, total, available), true, false};
}

// A model whose volume list and snapshot probe the test supplies, so that
// nothing depends on the machine's own mounts.
struct Harness {
    std::vector<DiskVolume> volumeList;
    std::atomic<int> volumeCalls = 0;
    std::unique_ptr<DiskModel> model;

    Harness()
    {
        QSettings().clear();
        auto environment = DiskModelEnvironment::system();
        environment.volumes = [this] {
            ++volumeCalls;
            return volumeList;
        };
        environment.snapshotSummary = [](const std::string&, std::stop_token) {
            return std::optional<APFSSnapshotSummary>();
        };
        model = std::make_unique<DiskModel>(std::move(environment));
    }
    ~Harness() { settle(); }

    // Lets every background job end and its result arrive.
    static void settle()
    {
        for (int round = 0; round < 3; ++round) {
            EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(60'000));
            QCoreApplication::processEvents();
        }
    }
    bool scanEnded() const
    {
        return QTest::qWaitFor([&] { return model->status().kind != Kind::scanning; }, 60'000);
    }
    bool scanToEnd(const fs::path& path)
    {
        model->scan(path.string());
        return scanEnded();
    }
    // Runs an action that reports its end through a callback, and waits for it.
    template <typename Action>
    static bool await(Action action)
    {
        bool done = false;
        action([&] { done = true; });
        return QTest::qWaitFor([&] { return done; }, 10'000);
    }
};

TEST(DiskModel, ScanPublishesTotalsEstimatesAndEmptyFolders)
{
    const TempDir dir;
    const auto tree = fs::canonical(dir.path()) / "tree";
    std::uint64_t allocated = 0;
    for (int i = 0; i < 40; ++i) {
        const auto file = tree / ("d" + std::to_string(i % 4)) / (i % 3 == 0 ? "s" : "") / ("f" + std::to_string(i));
        writeFile(file, static_cast<std::size_t>(i) * 7'919 % 200'000 + 1);
        allocated += testing::allocatedBytes(file);
    }
    fs::create_directory_symlink(tree, dir.path() / "link");

    Harness harness;
    auto& model = *harness.model;
    model.scan((dir.path() / "link").string());
    EXPECT_EQ(model.scanningPath(), tree.string()) << "the link is resolved";
    EXPECT_FALSE(model.estimatedTotalBytes()) << "nothing to go by on a first scan";
    ASSERT_TRUE(harness.scanEnded());
    EXPECT_EQ(model.status(), (DiskModelStatus{Kind::ready, {}}));
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.result()->root.path, tree.string());
    EXPECT_EQ(model.result()->root.bytes, allocated);
    EXPECT_EQ(model.scannedBytes(), model.result()->root.bytes);
    EXPECT_EQ(model.scannedFiles(), model.result()->root.fileCount);
    EXPECT_EQ(model.scannedFiles(), 40);

    // A rescan of the same folder is measured against the last one.
    model.scan(tree.string());
    EXPECT_EQ(model.estimatedTotalBytes(), allocated);
    ASSERT_TRUE(harness.scanEnded());
    EXPECT_EQ(model.status().kind, Kind::ready);
    EXPECT_EQ(model.estimatedTotalBytes(), allocated);

    // Folders and empty files only: a failure, with the result still shown.
    const auto empty = fs::canonical(dir.path()) / "empty";
    writeFile(empty / "a/zero", 0);
    writeFile(empty / "a/b/zero", 0);
    ASSERT_TRUE(harness.scanToEnd(empty));
    EXPECT_EQ(model.status(), DiskModelStatus::failed("No readable file data was found in this folder."));
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.result()->root.path, empty.string());
}

TEST(DiskModel, StoppedAndSupersededScans)
{
    // Thirty thousand names, nearly all hard links: quick to make, slow enough to walk.
    const TempDir dir;
    const auto large = fs::canonical(dir.path()) / "large";
    for (int i = 0; i < 30'000; ++i) {
        const auto folder = large / ("d" + std::to_string(i % 300));
        if (i < 300) writeFile(folder / "f", 1);
        else fs::create_hard_link(folder / "f", folder / ("f" + std::to_string(i)));
    }
    const auto small = fs::canonical(dir.path()) / "small";
    for (const auto* name : {"a", "b", "c"}) writeFile(small / name, 5'000);

    {
        // Stopped before the walk gets far: a partial result is kept only when
        // it holds data; otherwise whatever was shown before stays.
        Harness harness;
        auto& model = *harness.model;
        const auto stopAtOnce = [&](std::optional<std::uint64_t> estimate) {
            model.scan(large.string());
            EXPECT_EQ(model.estimatedTotalBytes(), estimate);
            model.stopScan();
            EXPECT_TRUE(model.stopping());
            ASSERT_TRUE(harness.scanEnded());
            EXPECT_FALSE(model.stopping());
            EXPECT_FALSE(model.estimatedTotalBytes());
            if (!model.result() || !model.result()->cancelled) return;
            EXPECT_EQ(model.status().kind, Kind::ready);
            EXPECT_TRUE(model.result()->scannedEntries > 1 || model.result()->root.fileCount >= 1);
            EXPECT_EQ(model.scannedFiles(), model.result()->root.fileCount);
        };
        stopAtOnce(std::nullopt);
        EXPECT_TRUE(model.result() || model.status().kind == Kind::idle);

        ASSERT_TRUE(harness.scanToEnd(large));
        const auto full = *model.result();
        stopAtOnce(full.root.bytes);
        EXPECT_EQ(model.status().kind, Kind::ready);
        if (!model.result()->cancelled) {
            EXPECT_EQ(*model.result(), full) << "an empty partial result replaces nothing";
        }
    }
    {
        // The later of two scans wins; nothing of the first arrives after it.
        Harness harness;
        auto& model = *harness.model;
        model.scan(large.string());
        std::vector<std::string> scanning;
        std::vector<std::optional<std::string>> shown;
        std::vector<std::int64_t> files;
        QObject::connect(&model, &DiskModel::changed, [&] {
            scanning.push_back(model.scanningPath());
            if (model.result()) shown.push_back(model.result()->root.path);
        });
        QObject::connect(&model, &DiskModel::progressChanged, [&] { files.push_back(model.scannedFiles()); });
        ASSERT_TRUE(harness.scanToEnd(small));
        Harness::settle();
        ASSERT_TRUE(model.result());
        EXPECT_EQ(model.result()->root.path, small.string());
        EXPECT_EQ(model.status().kind, Kind::ready);
        EXPECT_FALSE(shown.empty());
        for (const auto& path : scanning) EXPECT_EQ(path, small.string());
        for (const auto& path : shown) EXPECT_EQ(path, small.string());
        for (const auto count : files) EXPECT_LE(count, 3) << "a progress report of the first scan";
    }
}

// Points an environment variable elsewhere until the end of the scope.
struct ScopedVariable {
    const char* name;
    std::optional<std::string> saved;
    ScopedVariable(const char* name, const std::string& value) : name(name)
    {
        if (const char* old = std::getenv(name)) saved = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        Harness::settle();  // no job reads it any more
        if (saved) ::setenv(name, saved->c_str(), 1);
        else ::unsetenv(name);
    }
};

bool offers(const DiskModel& model, const std::string& path)
{
    const auto& list = model.cleanupCandidates();
    return std::any_of(list.begin(), list.end(), [&](const DiskCleanupCandidate& candidate) {
        return candidate.path == path || candidate.path.starts_with(path + "/");
    });
}

std::optional<DiskCleanupCandidate> firstWith(const DiskModel& model, DiskCleanupSafety safety)
{
    for (const auto& candidate : model.cleanupCandidates())
        if (candidate.safety == safety) return candidate;
    return std::nullopt;
}

TEST(DiskModel, MovesRestoresAndRefusesChangedOrProtectedItems)
{
    // A home and a Trash of the test's own.
    const TempDir root;
    const auto home = fs::canonical(root.path()) / "home";
    const auto trashFiles = fs::canonical(root.path()) / "data/Trash/files";
    const ScopedVariable homeVariable("HOME", home.string());
    const ScopedVariable dataVariable("XDG_DATA_HOME", (fs::canonical(root.path()) / "data").string());
    const auto trashEmpty = [&] { return !fs::exists(trashFiles) || fs::is_empty(trashFiles); };
    writeFile(home / ".cache/app/blob", 3'000'000);
    const auto movie = home / "films/movie.mkv";
    writeFile(movie, 2'000'000);
    writeFile(home / "data/store.db", 1'000'000);

    Harness harness;
    harness.volumeList = {volume("/", 1'000'000'000'000, 500'000'000'000)};
    auto& model = *harness.model;
    ASSERT_TRUE(harness.scanToEnd(home));
    model.setViewActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.cleanupCandidates().empty(); }, 10'000));

    const auto cache = firstWith(model, DiskCleanupSafety::safe);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->category, DiskCleanupCategory::cache);
    const auto moved = cache->path;
    ASSERT_TRUE(moved.starts_with((home / ".cache/app").string())) << moved;
    const auto name = QString::fromStdString(std::string(cache->name()));
    const auto request = model.prepareTrash(*cache);
    ASSERT_TRUE(request);
    ASSERT_TRUE(Harness::await([&](auto done) { model.moveToTrash(*request, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Moved " + name + " to Trash.");
    ASSERT_EQ(model.recentTrash().size(), 1U);
    const auto receipt = model.recentTrash().front();
    EXPECT_FALSE(offers(model, moved));
    EXPECT_FALSE(fs::exists(home / ".cache/app/blob"));
    EXPECT_TRUE(fs::exists(trashFiles / name.toStdString()));
    // The reloaded volumes recompute insights from the old scan, which still lists it.
    Harness::settle();
    EXPECT_FALSE(model.cleanupInProgress());
    EXPECT_TRUE(offers(model, movie.string()));
    EXPECT_FALSE(offers(model, moved));

    ASSERT_TRUE(Harness::await([&](auto done) { model.restore(receipt, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Restored " + name + ".");
    EXPECT_TRUE(fs::exists(home / ".cache/app/blob"));
    EXPECT_TRUE(model.recentTrash().empty());
    EXPECT_TRUE(trashEmpty());
    Harness::settle();
    EXPECT_TRUE(offers(model, moved)) << "back in place, it is offered again";

    // Changed after the confirmation opened: appended to, or its mode changed.
    for (const bool append : {true, false}) {
        const auto reviewed = model.prepareTrash(model.cleanupCandidate(movie.string(), 2'000'000, false));
        ASSERT_TRUE(reviewed);
        if (append) std::ofstream(movie, std::ios::app) << "more";
        else ASSERT_EQ(::chmod(movie.c_str(), 0640), 0);
        ASSERT_TRUE(Harness::await([&](auto done) { model.moveToTrash(*reviewed, done); }));
        EXPECT_EQ(model.cleanupMessage(), "The item changed after it was reviewed. Scan it again before acting.");
        EXPECT_TRUE(model.recentTrash().empty());
        EXPECT_TRUE(fs::exists(movie));
        EXPECT_TRUE(trashEmpty());
    }

    // Protected: refused when the confirmation would open, and never moved.
    const auto store = firstWith(model, DiskCleanupSafety::protected_);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->path, (home / "data/store.db").string());
    EXPECT_FALSE(model.prepareTrash(*store));
    EXPECT_EQ(model.cleanupMessage(), "This location is protected by Corvalent.");
    bool done = false;
    model.moveToTrash({*store, DiskItemIdentity::capture(store->path)}, [&] { done = true; });
    EXPECT_TRUE(done) << "refused at once";
    Harness::settle();
    EXPECT_EQ(model.cleanupMessage(), "This location is protected by Corvalent.");
    EXPECT_TRUE(fs::exists(store->path));
    EXPECT_TRUE(trashEmpty());
}

TEST(DiskModel, VerifiesDuplicateGroups)
{
    const TempDir dir;
    const auto tree = fs::canonical(dir.path());
    writeFile(tree / "a/one", 10'000'000);
    writeFile(tree / "b/two", 10'000'000);
    // Same size, one byte apart.
    writeFile(tree / "c/three", 10'000'001);
    std::ofstream(tree / "four") << std::string(10'000'000, 'x') << 'z';

    Harness harness;
    auto& model = *harness.model;
    ASSERT_TRUE(harness.scanToEnd(tree));
    std::optional<DiskDuplicateGroup> same, differ;
    for (const auto& group : model.result()->potentialDuplicateGroups)
        (group.logicalBytesPerFile == 10'000'000 ? same : differ) = group;
    ASSERT_TRUE(same && differ);

    // Cancelled at once: nothing is published, however the job ends.
    model.verifyDuplicates(*same);
    EXPECT_EQ(model.verifyingDuplicateGroupID(), same->id);
    model.cancelDuplicateVerification();
    EXPECT_FALSE(model.verifyingDuplicateGroupID());
    Harness::settle();
    EXPECT_FALSE(model.duplicateMessage());
    EXPECT_TRUE(model.verifiedDuplicateSets().empty());

    const auto verify = [&](const DiskDuplicateGroup& group) {
        model.verifyDuplicates(group);
        return QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000) &&
               model.verifiedDuplicateSets().count(group.id) == 1;
    };
    ASSERT_TRUE(verify(*differ));
    EXPECT_EQ(model.duplicateMessage(), "Same size, but contents differ.");
    EXPECT_TRUE(model.verifiedDuplicateSets().at(differ->id).empty());
    ASSERT_TRUE(verify(*same));
    EXPECT_EQ(model.duplicateMessage(), "Verified 2 identical files.");
    ASSERT_EQ(model.verifiedDuplicateSets().at(same->id).size(), 1U);
    EXPECT_EQ(model.verifiedDuplicateSets().at(same->id).front().files.size(), 2U);
}

TEST(DiskModel, VolumesLoadOnceAndScansSelectTheHoldingVolume)
{
    const TempDir dir;
    const auto mount = fs::canonical(dir.path()) / "vol";
    const auto sibling = fs::canonical(dir.path()) / "volume";
    writeFile(mount / "inner/file", 4'096);
    writeFile(sibling / "file", 4'096);

    Harness harness;
    auto& model = *harness.model;
    const auto other = volume("/mnt/other", 2'000'000'000, 1'000'000'000);
    const auto system = volume("/", 1'000'000'000'000, 400'000'000'000);
    harness.volumeList = {other, system};
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(Harness::await([&](auto done) { model.loadVolumes(false, done); }));
    Harness::settle();
    EXPECT_EQ(harness.volumeCalls, 1) << "loaded once unless forced";
    EXPECT_EQ(model.selectedVolumeID(), "/");
    EXPECT_EQ(model.capacity(), system.capacity);

    const auto held = volume(mount.string(), 8'000'000'000, 3'000'000'000);
    harness.volumeList = {system, held, other};
    ASSERT_TRUE(Harness::await([&](auto done) { model.loadVolumes(true, done); }));
    EXPECT_EQ(model.selectedVolumeID(), "/") << "a reload keeps the selection";

    model.scan((mount / "inner").string());
    EXPECT_EQ(model.selectedVolumeID(), mount.string()) << "the longest holding path wins";
    EXPECT_EQ(model.capacity(), held.capacity);
    ASSERT_TRUE(harness.scanEnded());
    ASSERT_TRUE(harness.scanToEnd(sibling));
    EXPECT_EQ(model.selectedVolumeID(), "/") << "a name that only begins like the mount is not on it";

    // A whole volume is measured against its used space.
    model.scan(mount.string());
    EXPECT_EQ(model.selectedVolumeID(), mount.string());
    EXPECT_EQ(model.estimatedTotalBytes(), held.capacity.used());
    ASSERT_TRUE(harness.scanEnded());
}

}  // namespace
}  // namespace corvalent
