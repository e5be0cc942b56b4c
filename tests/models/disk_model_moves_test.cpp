// Moves to the Trash and their undo: what is refused, the receipts kept,
// and what the lists leave out after a move, and for how long: a moved item
// stays out until a new result or another volume, no longer.

#include <gtest/gtest.h>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

#include "disk_model_fixtures.h"
#include "disk_model_moves.h"
#include "disk_printers.h"
#include "drain_lanes.h"
#include "models/disk_model.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::await;
using testing::Harness;
using testing::megabyte;
using testing::Moves;
using testing::writeFile;

TEST(DiskModelMoves, MovesRestoresAndRefusesChangedOrProtectedItems)
{
    const testing::DrainedTempHome temp;
    const auto& home = temp.home;
    const auto blob = home / ".cache/app/blob", movie = home / "films/movie.mkv", store = home / "data/store.db";
    for (const auto& [file, size] : {std::pair(blob, 3'000'000), {movie, 2'000'000}, {store, 1'000'000}})
        writeFile(file, size);

    Harness harness{{Moves::volumeAt("/")}};
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
    ASSERT_TRUE(harness.moved(cache));
    EXPECT_EQ(model.cleanupMessage(), "Moved " + name + " to Trash.");
    ASSERT_EQ(model.recentTrash().size(), 1U);
    const auto receipt = model.recentTrash().front();
    drainLanes();
    EXPECT_TRUE(offers(movie.string()));
    EXPECT_FALSE(offers(cache.path)) << "not even once the reloaded volumes recomputed insights from the old scan";
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Restored " + name + ".");
    EXPECT_TRUE(model.recentTrash().empty());
    drainLanes();
    EXPECT_TRUE(offers(cache.path)) << "back in place, it is offered again";
    // Replaced by a smaller file of its name since the scan, and offered as
    // the largest files offer it: refused when the confirmation would open.
    const auto changed = QStringLiteral(
        "“movie.mkv” can't be moved to Trash. The item changed after it was reviewed. Scan it again before acting.");
    const auto& files = model.result()->largestFiles;
    const auto scanned = *std::ranges::find(files, movie.string(), &DiskFile::path);
    writeFile(movie.string() + ".part", 36);
    fs::rename(movie.string() + ".part", movie);
    EXPECT_FALSE(
        harness.prepared(model.cleanupCandidate(movie.string(), scanned.bytes, false, DiskScannedItem::of(scanned))));
    EXPECT_EQ(model.cleanupMessage(), changed);
    EXPECT_EQ(fs::file_size(movie), 36U);
    // Changed after the confirmation opened.
    const auto reviewed = harness.prepared(model.cleanupCandidate(movie.string(), 2'000'000, false));
    ASSERT_TRUE(reviewed);
    std::ofstream(movie, std::ios::app) << "more";
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*reviewed, done); }));
    EXPECT_EQ(model.cleanupMessage(), changed);
    EXPECT_TRUE(model.recentTrash().empty());
    EXPECT_TRUE(fs::exists(movie));
    // Gone since: the Trash's own sentence names it already.
    const auto gone = home / "films/gone.mkv";
    writeFile(gone, 1'000);
    const auto goneRequest = harness.prepared(model.cleanupCandidate(gone.string(), 1'000, false));
    ASSERT_TRUE(goneRequest);
    fs::remove(gone);
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*goneRequest, done); }));
    EXPECT_EQ(model.cleanupMessage(),
              QString::fromStdString("“gone.mkv” is no longer in “" + (home / "films").string() + "”."));
    // Saved over while it moved, and again before it could go back: the
    // item in the Trash is said to be there, with an Undo, and the place
    // that holds an item again is still offered.
    const auto saveMovie = [&](std::size_t bytes) {
        return [&, bytes] {
            writeFile(movie.string() + ".part", bytes);
            fs::rename(movie.string() + ".part", movie);
        };
    };
    const auto resaved = harness.prepared(model.cleanupCandidate(movie.string(), 2'000'000, false));
    ASSERT_TRUE(resaved);
    harness.trashHooks = {.beforeRename = saveMovie(1'000), .afterRename = saveMovie(2'000)};
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*resaved, done); }));
    harness.trashHooks = {};
    EXPECT_EQ(model.cleanupMessage(),
              "“movie.mkv” changed after it was reviewed and could not be put back, so it is "
              "in the Trash. Undo puts it back once its place is free.");
    ASSERT_EQ(model.recentTrash().size(), 1U);
    EXPECT_TRUE(model.recentTrash().front().changedAfterReview);
    EXPECT_EQ(fs::file_size(model.recentTrash().front().trashedPath), 1'000U);
    drainLanes();
    EXPECT_TRUE(offers(movie.string()));
    ASSERT_TRUE(await([&](auto done) { model.restore(model.recentTrash().front(), done); }));
    EXPECT_EQ(model.cleanupMessage(),
              "“movie.mkv” can't go back. The original location is no longer empty, so "
              "Corvalent cannot restore this item safely. It is still in the Trash.");
    EXPECT_EQ(model.recentTrash().size(), 1U) << "the receipt stays for a later try";
    fs::remove(movie);
    ASSERT_TRUE(await([&](auto done) { model.restore(model.recentTrash().front(), done); }));
    EXPECT_EQ(fs::file_size(movie), 1'000U);
    EXPECT_TRUE(model.recentTrash().empty());
    // Protected: refused when the confirmation would open, and never moved.
    const auto kept = model.cleanupCandidate(store.string(), 1'000'000, false);
    EXPECT_FALSE(harness.prepared(kept));
    EXPECT_EQ(model.cleanupMessage(), "“store.db” can't be moved to Trash. This location is protected by Corvalent.");
    bool done = false;
    model.moveToTrash({kept, DiskItemIdentity::capture(store.string())}, [&] { done = true; });
    EXPECT_TRUE(done) << "refused at once";
    drainLanes();
    EXPECT_TRUE(fs::exists(store));

    // A later preparation supersedes an earlier one.
    bool earlier = false;
    model.prepareTrash(model.cleanupCandidate(movie.string(), 2'000'000, false), [&](auto) { earlier = true; });
    EXPECT_FALSE(earlier) << "the item is examined off the GUI thread";
    EXPECT_FALSE(harness.prepared(kept));
    drainLanes();
    EXPECT_FALSE(earlier);

    // The newest twenty receipts are kept, newest first.
    std::vector<std::string> paths;
    for (int i = 0; i < 21; ++i) {
        paths.push_back((home / ".cache/app" / ("part" + std::to_string(i))).string());
        writeFile(paths.back(), 1'000);
        ASSERT_TRUE(harness.moved(model.cleanupCandidate(paths.back(), 4'096, false))) << i;
    }
    ASSERT_EQ(model.recentTrash().size(), 20U);
    EXPECT_EQ(model.recentTrash().front().originalPath, paths.back());
    EXPECT_EQ(model.recentTrash().back().originalPath, paths[1]);
}

// The item went back into its folder just as the folder moved away, and its
// place in the Trash was taken: the window says where it is, never that it
// was restored, and offers no Undo for a Trash that no longer holds it. The
// same for a move into a Trash folder that moved away.
TEST(DiskModelMoves, AnItemThatLandsInAFolderThatMovedAwayIsSaidToBeThere)
{
    const testing::DrainedTempHome temp;
    const auto folder = temp.home / "plans", moved = temp.home / "old plans";
    writeFile(folder / "plan.txt", 4'000);
    Harness harness{{Moves::volumeAt("/")}};
    auto& model = harness.model;
    ASSERT_TRUE(harness.moved(model.cleanupCandidate((folder / "plan.txt").string(), 4'000, false)));
    ASSERT_EQ(model.recentTrash().size(), 1U);
    const auto receipt = model.recentTrash().front();
    harness.trashHooks.afterRename = [&] {
        fs::rename(folder, moved);
        writeFile(receipt.trashedPath, 10);
    };
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    harness.trashHooks = {};
    EXPECT_EQ(model.cleanupMessage(),
              QString::fromStdString("“plan.txt” left the Trash, but its folder “" + folder.string() +
                                     "” was moved while it went back: it "
                                     "is now in “" +
                                     fs::canonical(moved).string() + "”."));
    EXPECT_EQ(fs::file_size(moved / "plan.txt"), 4'000U);
    EXPECT_TRUE(model.recentTrash().empty()) << "nothing left in the Trash to undo";
    EXPECT_TRUE(model.movedSinceScan((folder / "plan.txt").string())) << "not back where the scan saw it";
    EXPECT_TRUE(model.mapNeedsRefresh());
    EXPECT_FALSE(model.cleanupInProgress());

    // The same on the way in: the Trash moved away and the item's place taken.
    const auto draft = temp.home / "draft.txt";
    writeFile(draft, 2'000);
    const auto request = harness.prepared(model.cleanupCandidate(draft.string(), 2'000, false));
    ASSERT_TRUE(request);
    harness.trashHooks = {.beforeRename = [&] { fs::rename(temp.trash(), temp.data / "Trash.old"); },
                          .afterRename = [&] { writeFile(draft, 10); }};
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*request, done); }));
    harness.trashHooks = {};
    EXPECT_TRUE(model.cleanupMessage()->startsWith("“draft.txt” went into the Trash folder “"));
    EXPECT_TRUE(model.cleanupMessage()->endsWith(
        QString::fromStdString("it is now in “" + fs::canonical(temp.data / "Trash.old/files").string() + "”.")));
    EXPECT_TRUE(model.recentTrash().empty());
    EXPECT_TRUE(model.movedSinceScan(draft.string())) << "gone from where the scan saw it";
    EXPECT_EQ(fs::file_size(temp.data / "Trash.old/files/draft.txt"), 2'000U);
}

TEST(DiskModelMoves, WhatIsAtAMovedPlaceAfterARescanIsListed)
{
    Moves moves;
    auto& model = moves.model;
    const auto& home = moves.temp.home;
    // Not in Downloads, which a scan leaves out unless chosen directly.
    const auto download = home / "fetched/disk.iso", thumbnails = home / ".cache/thumbnails",
               old = home / "films/old.mkv";
    writeFile(download, 6 * megabyte);
    for (int i = 0; i < 3; ++i) writeFile(thumbnails / ("t" + std::to_string(i)), 2 * megabyte);
    writeFile(old, 5 * megabyte);
    ASSERT_TRUE(await([&](auto done) { model.loadVolumes(false, done); }));
    ASSERT_TRUE(moves.rescanned());
    model.setViewActive(true);
    drainLanes();
    ASSERT_TRUE(moves.offered(download) && moves.offered(thumbnails) && moves.offered(old));

    for (const auto& [path, folder] : {std::pair{download, false}, {thumbnails, true}, {old, false}})
        ASSERT_TRUE(moves.moved(path, folder)) << path;
    drainLanes();
    for (const auto& path : {download, thumbnails / "t0", old}) {
        EXPECT_TRUE(model.movedSinceScan(path.string())) << path;
        EXPECT_FALSE(moves.offered(path)) << path;
    }

    // Fetched again, made again: the next result lists them, and the moved
    // ones as they lie in the Trash now.
    writeFile(download, 6 * megabyte);
    for (int i = 0; i < 12; ++i) writeFile(thumbnails / ("n" + std::to_string(i)), 1 * megabyte);
    ASSERT_TRUE(moves.rescanned());
    EXPECT_TRUE(moves.listed(download));
    EXPECT_TRUE(moves.offered(download) && moves.offered(thumbnails));
    EXPECT_FALSE(model.movedSinceScan((thumbnails / "n0").string()));
    const auto inTrash = fs::path(moves.receiptOf(old).trashedPath);
    ASSERT_TRUE(inTrash.string().starts_with(moves.temp.trash().string())) << inTrash;
    EXPECT_TRUE(moves.listed(inTrash));
    EXPECT_FALSE(moves.listed(old));

    // Undone after the rescan: gone from the Trash's place at once, listed
    // in its own after the next scan.
    const auto receipt = moves.receiptOf(old);
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    EXPECT_EQ(model.cleanupMessage(), "Restored old.mkv.");
    ASSERT_TRUE(fs::exists(old));
    drainLanes();
    EXPECT_FALSE(moves.listed(inTrash));
    EXPECT_FALSE(moves.offered(inTrash));
    ASSERT_TRUE(moves.rescanned());
    EXPECT_TRUE(moves.listed(old) && moves.offered(old));

    // Another volume forgets the moves made on this one.
    ASSERT_TRUE(moves.moved(download));
    EXPECT_TRUE(model.movedSinceScan(download.string()));
    model.selectVolume("/mnt/other");
    EXPECT_FALSE(model.movedSinceScan(download.string()));

    // Moved while a scan runs (held on a folder whose listing sleeps until
    // the move has ended): still out once that scan ends, back after the next.
    testing::SlowTree tree;
    tree.folders = {"slow"};
    tree.slowList = {"slow"};
    testing::SlowMount held(moves.root / "held", tree);
    if (!held.mounted()) GTEST_SKIP() << held.problem();
    model.scan(held.path().string());
    ASSERT_TRUE(held.waitForSlowCalls(1));
    ASSERT_TRUE(moves.moved(old));
    held.unmount();
    ASSERT_TRUE(moves.harness.scanEnded());
    EXPECT_TRUE(model.movedSinceScan(old.string()));
    ASSERT_TRUE(moves.rescanned());
    EXPECT_FALSE(model.movedSinceScan(old.string()));
}

// A copy moved and copied back is a copy again: the next verification lists
// every copy, the Trash's own among them.
TEST(DiskModelMoves, ACopyMovedAndCopiedBackIsInTheNextVerifiedSet)
{
    Moves moves;
    auto& model = moves.model;
    const auto films = moves.temp.home / "films";
    const std::vector copies{films / "a.mkv", films / "b.mkv", films / "c.mkv"};
    for (const auto& copy : copies) writeFile(copy, 10 * megabyte);
    const auto verifiedCopies = [&] {
        const auto& groups = model.result()->potentialDuplicateGroups;
        EXPECT_EQ(groups.size(), 1U);
        if (groups.empty()) return std::vector<std::string>{};
        model.verifyDuplicates(groups.front());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
        std::vector<std::string> paths;
        for (const auto& set : model.verifiedDuplicateSets().at(groups.front().id))
            for (const auto& file : model.duplicateCopiesLeft(set).files) paths.push_back(file.path);
        return paths;
    };
    ASSERT_TRUE(moves.rescanned());
    ASSERT_EQ(verifiedCopies().size(), 3U);
    ASSERT_TRUE(moves.moved(copies[1]));
    EXPECT_EQ(model.duplicateMessage(), "Verified 2 identical files.") << "the copies left";
    fs::copy_file(copies[0], copies[1]);

    ASSERT_TRUE(moves.rescanned());
    // The copy in the Trash listed last, so the first listed is the one kept;
    // and it frees nothing more, so the figure leaves it out.
    std::vector<std::string> expected;
    for (const auto& copy : copies) expected.push_back(copy.string());
    expected.push_back(moves.receiptOf(copies[1]).trashedPath);
    EXPECT_EQ(verifiedCopies(), expected);
    const auto left = model.duplicateCopiesLeft(model.verifiedDuplicateSets().begin()->second.at(0));
    EXPECT_EQ(left.estimatedRecoverableBytes, 2 * left.files[0].bytes);
    EXPECT_EQ(model.duplicateCopyRoles(left),
              (std::vector{DiskDuplicateCopyRole::keep, DiskDuplicateCopyRole::review, DiskDuplicateCopyRole::review,
                           DiskDuplicateCopyRole::protected_}));
    const auto group = model.duplicateCopiesLeft(model.result()->potentialDuplicateGroups.at(0));
    EXPECT_EQ(group.files.size(), 4U);
    EXPECT_EQ(group.estimatedRecoverableBytes, 2 * left.files[0].bytes) << "three copies outside the Trash";
}

// Verify compares the copies left; a verified set whose kept copy changed
// outside the program moves no copy and is unverified again.
TEST(DiskModelMoves, VerifyComparesTheCopiesLeftAndAChangedSetMovesNothing)
{
    Moves moves;
    auto& model = moves.model;
    const auto films = moves.temp.home / "films";
    const std::vector copies{films / "a.mkv", films / "b.mkv", films / "c.mkv"};
    for (const auto& copy : copies) writeFile(copy, 10 * megabyte);
    ASSERT_TRUE(moves.rescanned());
    const auto group = model.result()->potentialDuplicateGroups.at(0);
    ASSERT_TRUE(moves.moved(copies[2]));
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    EXPECT_EQ(model.duplicateMessage(), "Verified 2 identical files.");

    std::ofstream(copies[0], std::ios::app) << "edited";
    EXPECT_FALSE(moves.moved(copies[1]));
    EXPECT_EQ(model.cleanupMessage(), "“" + QString::fromStdString(copies[1].filename().string()) +
                                          "” can't be moved to Trash. The duplicate set changed after it was "
                                          "verified. Verify it again before acting.");
    EXPECT_EQ(model.cleanupOutcome().refusal, DiskTrashError::Kind::duplicateSetChanged);
    EXPECT_TRUE(fs::exists(copies[0]) && fs::exists(copies[1]));
    EXPECT_FALSE(model.verifiedDuplicateSets().contains(group.id) || model.duplicateMessage());

    ASSERT_TRUE(moves.moved(copies[1]));
    model.verifyDuplicates(group);
    EXPECT_FALSE(model.verifyingDuplicateGroupID()) << "one copy left: nothing to compare";
}

// The copy offered is one of the copies its set counts: edited in place since
// it was verified, at the same size and with its modification time put back,
// it holds bytes that may be nowhere else, and stays.
TEST(DiskModelMoves, ACopyEditedInPlaceSinceItWasVerifiedStays)
{
    Moves moves;
    auto& model = moves.model;
    const auto kept = moves.temp.home / "films/a.mkv", offered = moves.temp.home / "films/b.mkv";
    for (const auto& file : {kept, offered}) writeFile(file, 10 * megabyte);
    ASSERT_TRUE(moves.rescanned());
    const auto group = model.result()->potentialDuplicateGroups.at(0);
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    ASSERT_EQ(model.duplicateMessage(), "Verified 2 identical files.");

    testing::editInPlaceKeepingTime(offered);
    // As a duplicate card offers it: with what the scan measured, which still holds.
    const auto file = *std::ranges::find(group.files, offered.string(), &DiskFile::path);
    const auto request =
        moves.harness.prepared(model.cleanupCandidate(file.path, file.bytes, false, DiskScannedItem::of(file)));
    ASSERT_TRUE(request) << "what the scan measured of it still holds";
    ASSERT_TRUE(await([&](auto done) { model.moveToTrash(*request, done); }));
    EXPECT_EQ(model.cleanupMessage(), "“b.mkv” can't be moved to Trash. The duplicate set changed after it was "
                                      "verified. Verify it again before acting.");
    EXPECT_TRUE(fs::exists(offered) && model.recentTrash().empty());
}

// A verified set with one copy left is no set: nothing counts it, and its
// last copy moves as any file does, however it changed since.
TEST(DiskModelMoves, AVerifiedSetWithOneCopyLeftIsNoSet)
{
    Moves moves;
    auto& model = moves.model;
    const auto kept = moves.temp.home / "films/a.mkv", copy = moves.temp.home / "films/b.mkv";
    for (const auto& file : {kept, copy}) writeFile(file, 10 * megabyte);
    ASSERT_TRUE(moves.rescanned());
    model.verifyDuplicates(model.result()->potentialDuplicateGroups.at(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    ASSERT_EQ(model.duplicateMessage(), "Verified 2 identical files.");

    ASSERT_TRUE(moves.moved(copy));
    EXPECT_EQ(model.duplicateMessage(), std::nullopt) << "a copy alone duplicates nothing";
    const auto receipt = moves.receiptOf(copy);
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    EXPECT_EQ(model.duplicateMessage(), "Verified 2 identical files.") << "back, it is a copy again";

    ASSERT_TRUE(moves.moved(copy));
    std::ofstream(kept, std::ios::app) << "edited";
    EXPECT_TRUE(moves.moved(kept)) << model.cleanupMessage().value_or("").toStdString();
}

// Each preparation, move and restore publishes whose it was and, for a
// refusal, its kind, told every time; the status card's message stays the
// same sentence.
TEST(DiskModelMoves, EachOutcomeSaysWhoseItWasAndTheKindOfItsRefusal)
{
    Moves moves;
    auto& model = moves.model;
    using Action = DiskCleanupOutcome::Action;
    const auto film = moves.temp.home / "films/movie.mkv", link = moves.temp.home / "films/link.mkv";
    writeFile(film, 2 * megabyte);
    fs::create_symlink(film, link);
    ASSERT_TRUE(moves.rescanned());
    QSignalSpy told(&model, &DiskModel::cleanupOutcomeChanged);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_FALSE(moves.moved(link));
        const auto& refused = model.cleanupOutcome();
        EXPECT_EQ(refused.action, Action::prepare);
        EXPECT_EQ(refused.path, link.string());
        EXPECT_EQ(refused.refusal, DiskTrashError::Kind::symbolicLink);
        EXPECT_FALSE(refused.succeeded);
        EXPECT_EQ(refused.message, model.cleanupMessage());
        EXPECT_EQ(told.count(), attempt) << "the same refusal again is told again";
    }

    ASSERT_TRUE(moves.moved(film));
    auto outcome = model.cleanupOutcome();
    EXPECT_EQ(outcome.action, Action::move);
    EXPECT_TRUE(outcome.succeeded && !outcome.refusal);
    EXPECT_EQ(outcome.receiptID, model.recentTrash().front().id);
    EXPECT_EQ(outcome.message, "Moved movie.mkv to Trash.");

    // A refused Undo: its kind, and the item still in the Trash.
    writeFile(film, 10);
    const auto receipt = model.recentTrash().front();
    ASSERT_TRUE(await([&](auto done) { model.restore(receipt, done); }));
    outcome = model.cleanupOutcome();
    EXPECT_EQ(outcome.action, Action::restore);
    EXPECT_EQ(outcome.path, receipt.originalPath);
    EXPECT_EQ(outcome.receiptID, receipt.id);
    EXPECT_EQ(outcome.refusal, DiskTrashError::Kind::destinationExists);
    EXPECT_TRUE(outcome.message.endsWith("It is still in the Trash.")) << outcome.message.toStdString();
    EXPECT_TRUE(fs::exists(receipt.trashedPath));

    ASSERT_TRUE(moves.rescanned());
    EXPECT_EQ(model.cleanupOutcome().action, Action::none) << "a new scan forgets it with the message";
}

}  // namespace
}  // namespace corvalent
