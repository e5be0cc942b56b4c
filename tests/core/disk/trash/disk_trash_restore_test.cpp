// Restores, and moves whose folder moves away meanwhile: nothing replaced,
// nothing reported as done that did not land where it says.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

#include "core/disk/trash/disk_trash.h"
#include "core/disk/trash/freedesktop_trash.h"
#include "core/common/utf8.h"
#include "slow_mount.h"
#include "test_support.h"
#include "trash_test.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::contents;
using testing::Kind;
using testing::TrashTest;
using testing::write;

TEST_F(TrashTest, RestoreNeverReplacesAndChecksTheTrashCopy)
{
    const auto file = work / "notes.txt";
    write(file, "first");
    const auto receipt = trashed(file);

    write(file, "newcomer");
    expectRefused(Kind::destinationExists, [&] { DiskTrashExecutor::restore(receipt); });
    fs::remove(file);
    fs::create_symlink(work / "nowhere", file);
    expectRefused(Kind::destinationExists, [&] { DiskTrashExecutor::restore(receipt); });
    fs::remove(file);

    std::ofstream(receipt.trashedPath, std::ios::app) << " changed";
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::restore(receipt); });
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(receipt.trashedPath));
}

// The original folder swapped for a link to another between the check and
// the rename, or right after it: the restore is refused, nothing lands in
// the link's target, and the item waits in the Trash for the folder's return.
TEST_F(TrashTest, ARestoreThroughAFolderSwappedForALinkIsRefused)
{
    const auto folder = work / "shared";
    const auto moved = work / "shared.old";
    const auto target = root.path() / "target";
    fs::create_directories(target);
    const auto linkInPlace = [&] {
        fs::rename(folder, moved);
        fs::create_directory_symlink(target, folder);
    };
    const auto deletedAndLinked = [&] {
        fs::remove_all(folder);
        fs::create_directory_symlink(target, folder);
    };
    const std::vector<std::pair<DiskTrashHooks, Kind>> swaps{
        {{.beforeRename = linkInPlace}, Kind::symbolicLink},
        {{.afterRename = linkInPlace}, Kind::symbolicLink},
        {{.beforeRename = deletedAndLinked}, Kind::unavailable},
    };
    for (const auto& [hooks, kind] : swaps) {
        write(folder / "plan.txt", "plan");
        const auto receipt = trashed(folder / "plan.txt");
        expectRefused(kind, [&] { DiskTrashExecutor::restore(receipt, hooks); });
        EXPECT_TRUE(fs::is_empty(target)) << "nothing in the link's target";
        EXPECT_FALSE(fs::exists(moved / "plan.txt")) << "nor in the folder that moved away";
        EXPECT_EQ(DiskItemIdentity::capture(receipt.trashedPath), receipt.trashedIdentity);
        EXPECT_TRUE(fs::exists(receipt.infoPath));

        fs::remove(folder);
        if (fs::exists(moved)) fs::rename(moved, folder);
        fs::create_directories(folder);
        DiskTrashExecutor::restore(receipt);
        EXPECT_EQ(contents(folder / "plan.txt"), "plan");
        EXPECT_FALSE(fs::exists(receipt.infoPath));
    }
    EXPECT_TRUE(trashEmpty());
}

// The original folder moved away right after the item went back into it,
// and the item's place in the Trash taken so that it cannot return there:
// the item stays in the folder it went into, and the restore says where that
// folder is now instead of reporting success.
TEST_F(TrashTest, ARestoreIntoAFolderThatMovedAwaySaysWhereTheItemIs)
{
    const auto folder = work / "shared";
    const auto moved = work / "moved away";
    write(folder / "plan.txt", "plan");
    const auto receipt = trashed(folder / "plan.txt");
    const auto before = receipt.trashedIdentity;
    const DiskTrashHooks hooks{.afterRename = [&] {
        fs::rename(folder, moved);
        write(receipt.trashedPath, "another item, trashed meanwhile");
    }};
    try {
        DiskTrashExecutor::restore(receipt, hooks);
        ADD_FAILURE() << "reported as restored";
    } catch (const DiskTrashError& error) {
        EXPECT_EQ(error.kind(), Kind::landedElsewhere);
        EXPECT_EQ(std::string(error.what()), "“plan.txt” left the Trash, but its folder “" + folder.string() +
                                                 "” was moved while it went back: it is now in “" +
                                                 fs::canonical(moved).string() + "”.");
    }
    EXPECT_FALSE(fs::exists(folder / "plan.txt"));
    EXPECT_EQ(contents(moved / "plan.txt"), "plan");
    EXPECT_TRUE(DiskItemIdentity::capture((moved / "plan.txt").string()).sameItemAs(before));
    EXPECT_EQ(contents(receipt.trashedPath), "another item, trashed meanwhile") << "nothing in the Trash replaced";
    EXPECT_FALSE(fs::exists(receipt.infoPath)) << "the Trash no longer holds it";
}

// The Trash folder moved away while an item went in: the item goes back to
// its place; when that place was taken meanwhile, the refusal says where the
// item is. Neither is reported as a move.
TEST_F(TrashTest, AMoveIntoATrashThatMovedAwayIsUndoneOrSaysWhereTheItemIs)
{
    const auto item = work / "draft.txt";
    const auto trash = data / "Trash";
    fs::create_directories(trashFiles());
    const auto files = fs::canonical(trashFiles());
    const auto movedFiles = fs::canonical(data) / "Trash.old" / "files";
    const auto moveTrashAway = [&] { fs::rename(trash, data / "Trash.old"); };
    write(item, "draft");
    expectRefused(
        Kind::unavailable,
        [&] {
            DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(item)),
                                           {.beforeRename = moveTrashAway});
        },
        "“draft.txt” can't be moved to Trash: the Trash folder “" + files.string() + "” was moved while it went in.");
    EXPECT_EQ(contents(item), "draft");
    EXPECT_TRUE(fs::is_empty(data / "Trash.old/files") && fs::is_empty(data / "Trash.old/info"));

    fs::remove_all(data / "Trash.old");
    fs::create_directories(trashFiles());
    const auto request = DiskTrashExecutor::prepare(candidate(item));
    const DiskTrashHooks takenMeanwhile{.beforeRename = moveTrashAway, .afterRename = [&] { write(item, "new"); }};
    expectRefused(
        Kind::landedElsewhere, [&] { DiskTrashExecutor::moveToTrash(request, takenMeanwhile); },
        "“draft.txt” went into the Trash folder “" + files.string() +
            "”, but that folder was moved while it went in and it could not go back: it is now in “" +
            movedFiles.string() + "”.");
    EXPECT_EQ(contents(item), "new");
    EXPECT_EQ(contents(data / "Trash.old/files/draft.txt"), "draft");
}

// Every item gets a name of its own, short enough for its info file, whatever
// its own name and however many items share it; it comes back in full.
TEST_F(TrashTest, NamesInTheTrashAreUniqueShortAndRestoredInFull)
{
    std::string accented;
    for (int i = 0; i < 125; ++i) accented += "\xC3\xA9";  // é
    std::vector<fs::path> items{
        work / std::string(255, 'n'),
        work / "a" / (accented + ".txt"),  // 254 bytes: a plain cut would split a character
        work / "b" / (accented + ".txt"),
        work / "c" / (std::string(240, 'm') + ".tar"),  // fits once; the second needs room for ".2"
        work / "d" / (std::string(240, 'm') + ".tar"),
    };
    for (int i = 0; i < 103; ++i) items.push_back(work / std::to_string(i) / "cache.log");
    std::set<std::string> names;
    std::vector<DiskTrashReceipt> receipts;
    for (const auto& item : items) {
        write(item, item.parent_path().filename().string());
        receipts.push_back(trashed(item));
        const auto name = fs::path(receipts.back().trashedPath).filename().string();
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_LE(name.size() + std::string_view(".trashinfo").size(), 255U) << name;
        EXPECT_TRUE(isValidUtf8(name)) << name;
        EXPECT_EQ(fs::path(name).extension(), item.extension());
        const auto path = "\nPath=" + FreedesktopTrash::percentEncoded(item.string()) + "\n";
        EXPECT_NE(contents(infoFile(receipts.back())).find(path), std::string::npos) << "the full original path";
    }

    for (const auto& receipt : receipts) DiskTrashExecutor::restore(receipt);
    for (const auto& item : items) EXPECT_EQ(contents(item), item.parent_path().filename().string());
    EXPECT_TRUE(trashEmpty());
    EXPECT_TRUE(fs::is_empty(data / "Trash" / "info")) << "the info files go with the items";
}

}  // namespace
}  // namespace corvalent
