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

// Detaches a mount the test made when it goes.
struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
};

TEST_F(TrashTest, FileAndFolderRoundTrip)
{
    const auto file = work / "report.txt";
    write(file, "quarterly figures");
    const auto folder = work / "folder";
    for (int i = 0; i < 50; ++i) write(folder / ("f" + std::to_string(i)), std::string(100 + i, 'x'));
    ::chmod(file.c_str(), 0640);

    for (const auto& item : {file, folder}) {
        const auto before = DiskItemIdentity::capture(item.string());
        const auto receipt = trashed(item);
        EXPECT_FALSE(fs::exists(fs::symlink_status(item)));
        EXPECT_EQ(receipt.originalPath, item.string());
        EXPECT_EQ(fs::path(receipt.trashedPath).parent_path(), fs::canonical(trashFiles()));
        EXPECT_TRUE(receipt.trashedIdentity.sameItemAs(before));
        const auto info = infoFile(receipt);
        const auto text = contents(info);
        EXPECT_NE(text.find("[Trash Info]\nPath=" + FreedesktopTrash::percentEncoded(item.string()) + "\n"),
                  std::string::npos);
        EXPECT_NE(text.find("\nDeletionDate="), std::string::npos);
        EXPECT_EQ(fs::path(receipt.infoPath), fs::canonical(info));
        // Whatever another program made of its Path= line, the info file is ours.
        if (item == folder) write(info, "[Trash Info]\nPath=/edited/elsewhere\n");

        DiskTrashExecutor::restore(receipt);
        EXPECT_EQ(DiskItemIdentity::capture(item.string()), before) << "same inode, mode, size and time";
        EXPECT_FALSE(fs::exists(info)) << "the info file goes with the item";
    }
    EXPECT_EQ(contents(file), "quarterly figures");
    EXPECT_EQ(contents(folder / "f49"), std::string(149, 'x'));
    EXPECT_TRUE(trashEmpty());
}

TEST_F(TrashTest, ItemChangedSinceTheScanOrTheReviewIsRefusedAndStays)
{
    // Changed after the scan, before the review: what the user reviewed is
    // what the scan measured, and nothing moves in its place.
    const auto scanned = fs::canonical(work) / "scanned";
    const auto download = scanned / "download.iso", edited = scanned / "edited.txt", emptied = scanned / "emptied.iso",
               becameFolder = scanned / "became-folder.bin", folder = scanned / "folder", grown = scanned / "grown",
               kept = scanned / "kept.iso", links = scanned / "links", touched = scanned / "touched.iso",
               flushed = scanned / "flushed.iso";
    for (const auto& item : {download, emptied, becameFolder, kept, touched, flushed})
        write(item, std::string(400'000, 'd'));
    write(edited, std::string(3'000, 'd'));
    for (const auto& item : {folder, grown}) write(item / "inside", "x");
    write(links / "a.bin", std::string(400'000, 'l'));
    fs::create_hard_link(links / "a.bin", links / "b.bin");
    const auto result = DiskScanner::scan(scanned.string(), true, 6, 14, {}, {});
    // Counted once, under the first link met; the other is listed with no bytes of its own.
    const auto first =
        std::ranges::find_if(result.largestFiles, [&](auto& file) { return file.path.starts_with(links.string()); });
    ASSERT_NE(first, result.largestFiles.end());
    auto repeated = *first;
    repeated.path = (links / (first->name() == "a.bin" ? "b.bin" : "a.bin")).string();
    repeated.bytes = 0;

    testing::awaitClockPastChangeOf(links / "a.bin");  // linked last: a time set from here on is a later one
    write(scanned / "smaller", std::string(36, 's'));
    fs::rename(scanned / "smaller", download);
    write(edited, std::string(36, 'e'));  // the same file written over, in the same blocks
    fs::resize_file(emptied, 0);
    fs::resize_file(emptied, 400'000);  // of the same size, in no blocks
    fs::remove(becameFolder);
    fs::create_directory(becameFolder);
    fs::rename(folder, scanned / "folder.old");
    write(folder / "inside", "x");
    write(grown / "added", std::string(100'000, 'g'));  // what a folder holds is not the folder
    const auto scannedTime = fs::last_write_time(touched);
    fs::last_write_time(touched, scannedTime + std::chrono::seconds(1));  // of the same size, in the same blocks
    // Blocks the file system adds on its own (an extent block when the file is
    // written out, preallocation) change neither its size nor its time.
    const auto blocks = testing::allocatedBytes(flushed);
    const auto flushedTime = fs::last_write_time(flushed);
    const int out = ::open(flushed.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_EQ(::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, 4'000'000), 0) << std::generic_category().message(errno);
    ::close(out);
    fs::last_write_time(flushed, flushedTime);
    ASSERT_GT(testing::allocatedBytes(flushed), blocks);
    for (const auto& item : {download, edited, emptied, becameFolder, folder, touched})
        expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::prepare(scannedCandidate(result, item)); });
    // Offered without a scan's record, it is at least of the kind offered.
    expectRefused(Kind::identityChanged,
                  [&] { DiskTrashExecutor::prepare(DiskInsights::classify(becameFolder.string(), 1, false, {})); });
    EXPECT_EQ(contents(download), std::string(36, 's'));
    EXPECT_EQ(contents(edited), std::string(36, 'e'));
    EXPECT_TRUE(fs::is_directory(becameFolder) && fs::exists(folder / "inside"));
    EXPECT_TRUE(trashEmpty());
    for (const auto& item : {kept, grown, links / "a.bin", links / "b.bin", flushed}) {
        const auto request = DiskTrashExecutor::prepare(scannedCandidate(result, item, {repeated}));
        EXPECT_EQ(request.recorded.size(), 1U) << "checked again before the move";
        DiskTrashExecutor::moveToTrash(request);
        EXPECT_FALSE(fs::exists(item)) << item;
    }
    fs::remove_all(data / "Trash");

    const auto file = work / "data.bin";
    const auto swapIn = work / "other.bin";
    const auto prepareFile = [&] {
        write(file, "0123456789");
        return DiskTrashExecutor::prepare(candidate(file));
    };

    // Another file renamed over it, with the same size and time.
    auto request = prepareFile();
    write(swapIn, "abcdefghij");
    const auto time = fs::last_write_time(file);
    fs::last_write_time(swapIn, time);
    fs::rename(swapIn, file);
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::moveToTrash(request); });
    EXPECT_EQ(contents(file), "abcdefghij") << "the replacement is left alone";

    request = prepareFile();
    std::ofstream(file, std::ios::app) << "more";
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::moveToTrash(request); });
    EXPECT_EQ(contents(file), "0123456789more");
    EXPECT_TRUE(trashEmpty());

    // Saved again (written and renamed over it) between the last check and
    // the rename: what arrived in the Trash goes back, and nothing has moved.
    const auto saveAs = [&](const std::string& text) {
        return [&, text] {
            write(swapIn, text);
            fs::rename(swapIn, file);
        };
    };
    request = prepareFile();
    expectRefused(Kind::identityChanged,
                  [&] { DiskTrashExecutor::moveToTrash(request, {.beforeRename = saveAs("saved again")}); });
    EXPECT_EQ(contents(file), "saved again");
    EXPECT_TRUE(trashEmpty());
    EXPECT_TRUE(fs::is_empty(data / "Trash" / "info")) << "no info file is left";

    // Saved once more before it could go back: it stays in the Trash, with a
    // receipt that says it is not the reviewed item, and comes back by it.
    request = prepareFile();
    const auto receipt = DiskTrashExecutor::moveToTrash(
        request, {.beforeRename = saveAs("second save"), .afterRename = saveAs("third save")});
    EXPECT_TRUE(receipt.changedAfterReview);
    EXPECT_EQ(receipt.bytes, 0U) << "the scan never measured it";
    EXPECT_EQ(contents(receipt.trashedPath), "second save");
    EXPECT_EQ(receipt.trashedIdentity, DiskItemIdentity::capture(receipt.trashedPath));
    EXPECT_EQ(contents(file), "third save");
    EXPECT_TRUE(fs::exists(receipt.infoPath));
    fs::remove(file);
    DiskTrashExecutor::restore(receipt);
    EXPECT_EQ(contents(file), "second save");
    EXPECT_TRUE(trashEmpty());

    // Gone before the rename, after the info file was written: the info file goes too.
    request = prepareFile();
    const auto removeFile = [&] { fs::remove(file); };
    expectRefused(Kind::unavailable, [&] { DiskTrashExecutor::moveToTrash(request, {.beforeRename = removeFile}); },
                  "“data.bin” is no longer in “" + work.string() + "”.");
    EXPECT_TRUE(fs::is_empty(data / "Trash" / "info"));
}

// The item is renamed out of the folder it was checked in: a parent folder
// swapped for a link to another holding an item of the same name is never
// reached, and the reviewed item is the one that moves.
TEST_F(TrashTest, AParentFolderSwappedForALinkIsNotReached)
{
    const auto folder = work / "downloads";
    const auto decoys = root.path() / "decoys";
    write(folder / "setup.bin", "reviewed");
    write(decoys / "setup.bin", "decoy");
    const auto request = DiskTrashExecutor::prepare(candidate(folder / "setup.bin"));
    const auto swap = [&] {
        fs::rename(folder, work / "downloads.old");
        fs::create_directory_symlink(decoys, folder);
    };
    const auto receipt = DiskTrashExecutor::moveToTrash(request, {.beforeRename = swap});
    EXPECT_FALSE(receipt.changedAfterReview);
    EXPECT_TRUE(receipt.trashedIdentity.sameItemAs(request.identity));
    EXPECT_EQ(contents(receipt.trashedPath), "reviewed");
    EXPECT_EQ(contents(decoys / "setup.bin"), "decoy");
    EXPECT_FALSE(fs::exists(work / "downloads.old" / "setup.bin"));
}

// A copy of a verified duplicate set moves only while every copy, itself
// included, is as verification recorded it.
TEST_F(TrashTest, ACopyMovesOnlyWhileItsSetIsAsRecorded)
{
    const auto kept = work / "Desktop/X.bin", offered = work / "Documents/X.bin", away = work / "X.bin";
    const std::vector<std::pair<std::string, std::function<void()>>> changes{
        {"kept deleted", [&] { fs::remove(kept); }},
        {"kept moved away", [&] { fs::rename(kept, away); }},
        {"kept edited", [&] { std::ofstream(kept, std::ios::app) << "new"; }},
        // Its change time tells, which no one can set back.
        {"kept edited in place, its time put back", [&] { testing::editInPlaceKeepingTime(kept); }},
        {"offered edited in place, its time put back", [&] { testing::editInPlaceKeepingTime(offered); }},
        {"offered replaced, same size and time",
         [&] {
             write(away, "other bytes");
             fs::last_write_time(away, fs::last_write_time(offered));
             fs::rename(away, offered);
         }},
        {"unchanged", [] {}}};
    for (const auto& [change, apply] : changes) {
        write(kept, "same bytes!");
        write(offered, "same bytes!");
        std::vector<DiskRecordedIdentity> recorded;
        for (const auto& copy : {kept, offered})
            recorded.push_back(DiskRecordedIdentity::capture(copy.string()));
        for (auto& record : recorded) record.refusal = Kind::duplicateSetChanged;
        apply();
        auto request = DiskTrashExecutor::prepare(candidate(offered));  // reviewed after the change
        request.recorded = recorded;
        if (change == "unchanged") {
            EXPECT_FALSE(fs::exists(DiskTrashExecutor::moveToTrash(request).originalPath));
            continue;
        }
        expectRefused(
            Kind::duplicateSetChanged, [&] { DiskTrashExecutor::moveToTrash(request); },
            "The duplicate set changed after it was verified. Verify it again before acting.");
        EXPECT_TRUE(fs::exists(offered) && trashEmpty()) << change;
        fs::remove(away);
    }
}

TEST_F(TrashTest, RefusalsTouchNothing)
{
    const auto target = work / "target.txt";
    write(target, "x");
    const auto link = work / "link.txt";
    fs::create_symlink(target, link);
    const auto linkedFolder = work / "linked";
    fs::create_directory_symlink(work, linkedFolder);
    const auto fifo = work / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto database = work / "store.sqlite";
    write(database, "db");
    const auto latin1 = work / "caf\xe9.bin";  // shown only with a replacement character
    write(latin1, "x");

    expectRefused(Kind::symbolicLink, [&] { DiskTrashExecutor::prepare(candidate(link)); });
    expectRefused(Kind::symbolicLink, [&] { DiskTrashExecutor::prepare(candidate(linkedFolder / "target.txt")); });
    expectRefused(Kind::unsupportedItem, [&] { DiskTrashExecutor::prepare(candidate(fifo)); });
    auto reviewedAsSafe = candidate(database);
    reviewedAsSafe.safety = DiskCleanupSafety::review;
    // Classified again at the moment of acting, whatever the candidate says.
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(reviewedAsSafe); });
    expectRefused(Kind::unavailable, [&] { DiskTrashExecutor::prepare(candidate(work / "missing")); },
                  "“missing” is no longer in “" + work.string() + "”.");
    // Its name is shown only with a replacement character, which could stand for another name.
    expectRefused(Kind::invalidName, [&] { DiskTrashExecutor::prepare(candidate(latin1)); },
                  "Corvalent can't move “caf\uFFFD.bin” because its name isn't valid text.");
    expectRefused(Kind::invalidName, [&] { DiskTrashExecutor::prepare(candidate(latin1 / "inside")); },
                  "Corvalent can't move “inside” because the path of its folder “" + work.string() +
                      "/caf\uFFFD.bin” isn't valid text.");
    EXPECT_TRUE(fs::exists(target) && fs::is_symlink(link) && fs::exists(fifo) && fs::exists(database) &&
                fs::exists(latin1));
    EXPECT_TRUE(trashEmpty());
}

TEST_F(TrashTest, NothingInsideTheTrashIsOfferedOrMoved)
{
    const auto file = work / "old.log";
    write(file, "x");
    const auto receipt = trashed(file);
    const auto info = infoFile(receipt);

    for (const auto& path : {data / "Trash", fs::path(receipt.trashedPath), info})
        EXPECT_EQ(candidate(path).safety, DiskCleanupSafety::protected_) << path;

    // The Trash reached through a link in XDG_DATA_HOME: its resolved place
    // tells that the item is in it.
    const auto linked = root.path() / "linked-data";
    fs::create_directory_symlink(data, linked);
    ::setenv("XDG_DATA_HOME", linked.c_str(), 1);
    EXPECT_EQ(candidate(receipt.trashedPath).safety, DiskCleanupSafety::protected_);
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(candidate(receipt.trashedPath)); });
    EXPECT_TRUE(fs::exists(receipt.trashedPath) && fs::exists(info));

    // Through a bind mount, a spelling no text names: the Trash is the same folder.
    const auto bound = root.path() / "bound";
    fs::create_directory(bound);
    if (::getuid() != 0 || ::mount(root.path().c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind here";
    const Unmount unmount{bound};
    const auto third = bound / fs::relative(receipt.trashedPath, fs::canonical(root.path()));
    ASSERT_TRUE(fs::exists(third));
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(candidate(third)); });
}

TEST_F(TrashTest, RelativeDataHomeIsIgnoredByTheTrashAndTheClassifierAlike)
{
    ::setenv("XDG_DATA_HOME", "data", 1);
    write(work / "a.txt", "x");
    const auto receipt = trashed(work / "a.txt");
    EXPECT_EQ(fs::path(receipt.trashedPath).parent_path(), fs::canonical(home / ".local/share/Trash/files"));
    EXPECT_EQ(candidate(receipt.trashedPath).safety, DiskCleanupSafety::protected_);
}

TEST_F(TrashTest, MountPointsAreRefusedBeforeAnythingIsMade)
{
    if (::getuid() != 0) GTEST_SKIP() << "mounting needs root";
    const auto memory = work / "memory";
    const auto bound = work / "bound";  // a folder of the same file system: the same device
    write(work / "source" / "inside", "x");
    fs::create_directory(memory);
    fs::create_directory(bound);
    if (::mount("tmpfs", memory.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount here";
    const Unmount unmountMemory{memory};
    if (::mount((work / "source").c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind here";
    const Unmount unmountBound{bound};

    for (const auto& mountPoint : {memory, bound}) {
        expectRefused(Kind::mountedInside, [&] { trashed(mountPoint); },
                      "A disk is mounted inside this folder. Corvalent does not move it.");
        try {
            FreedesktopTrash::moveToTrash(FreedesktopTrash::Folder::open(mountPoint.parent_path().string()),
                                           mountPoint.filename().string());
            ADD_FAILURE() << "the Trash layer moved a mount point";
        } catch (const FreedesktopTrash::Error& error) {
            EXPECT_EQ(error.code(), EBUSY) << "refused by the Trash layer too";
        }
    }
    EXPECT_EQ(contents(bound / "inside"), "x");
    for (const auto& entry : fs::recursive_directory_iterator(root.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".Trash")) << entry.path();
    EXPECT_FALSE(fs::exists(data / "Trash"));
}

// A rename would carry a disk mounted inside a folder into the Trash, where
// emptying it deletes the disk's files: the folder is refused when it is
// prepared and again at the move, from the mount table alone (a share that
// never answers is never asked), in any spelling of the folder.
TEST_F(TrashTest, AFolderWithADiskMountedInsideStaysWhereItIs)
{
    if (::getuid() != 0) GTEST_SKIP() << "mounting needs root";
    // A bind mount that appears after the sheet was prepared.
    const auto project = work / "project";
    write(project / "notes.txt", "kept");
    write(work / "disk" / "disk-file", "the other disk");
    const auto mountPoint = project / "build" / "disk";
    fs::create_directories(mountPoint);
    const auto request = DiskTrashExecutor::prepare(candidate(project));
    if (::mount((work / "disk").c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind here";
    const Unmount unmountBind{mountPoint};
    expectRefused(Kind::mountedInside, [&] { DiskTrashExecutor::moveToTrash(request); },
                  "A disk is mounted inside this folder. Corvalent does not move it.");
    expectRefused(Kind::mountedInside, [&] { DiskTrashExecutor::prepare(candidate(project)); });
    EXPECT_EQ(contents(mountPoint / "disk-file"), "the other disk") << "the mount stays where it was";
    EXPECT_EQ(contents(project / "notes.txt"), "kept");
    EXPECT_TRUE(trashEmpty());

    // The same folder of a disk reached through a bind mount of it, where the
    // mount inside does not show: it still sits on that folder.
    const auto memory = work / "memory";
    const auto alias = work / "alias";
    fs::create_directories(memory);
    fs::create_directories(alias);
    if (::mount("tmpfs", memory.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount here";
    const Unmount unmountMemory{memory};
    ASSERT_EQ(::mount(nullptr, memory.c_str(), nullptr, MS_PRIVATE, nullptr), 0);
    fs::create_directories(memory / "build" / "usb");
    ASSERT_EQ(::mount((work / "disk").c_str(), (memory / "build" / "usb").c_str(), nullptr, MS_BIND, nullptr), 0);
    const Unmount unmountUsb{memory / "build" / "usb"};
    ASSERT_EQ(::mount(memory.c_str(), alias.c_str(), nullptr, MS_BIND, nullptr), 0);
    const Unmount unmountAlias{alias};
    ASSERT_FALSE(fs::exists(alias / "build" / "usb" / "disk-file")) << "shows only in its own spelling";
    expectRefused(Kind::mountedInside, [&] { DiskTrashExecutor::prepare(candidate(alias / "build")); });
    EXPECT_TRUE(fs::exists(alias / "build"));

    // A share that does not answer is refused without a call on it.
    testing::SlowTree tree;
    tree.slowStat = tree.slowList = {"."};
    testing::SlowMount share(work / "elsewhere" / "share", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    expectRefused(Kind::mountedInside, [&] { DiskTrashExecutor::prepare(candidate(work / "elsewhere")); });
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U) << "the share was looked at";
}

TEST_F(TrashTest, OtherFileSystemUsesItsTopFolderTrash)
{
    // /dev/shm is a memory file system of its own on Linux.
    struct stat shm {};
    struct stat tmp {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(work.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const auto trash = fs::path("/dev/shm") / (".Trash-" + std::to_string(::getuid()));
    const bool trashExisted = fs::exists(trash);
    const testing::TempDir other("/dev/shm");
    const auto item = other.path() / "a b%.txt";
    write(item, "elsewhere");
    const auto folder = FreedesktopTrash::Folder::open(other.path().string());
    const auto placement = FreedesktopTrash::moveToTrash(folder, item.filename().string());
    EXPECT_EQ(fs::path(placement.trashedPath).parent_path(), trash / "files");
    const auto relative = item.string().substr(std::string("/dev/shm/").size());
    EXPECT_NE(contents(placement.infoPath).find("Path=" + FreedesktopTrash::percentEncoded(relative) + "\n"),
              std::string::npos);
    EXPECT_EQ(FreedesktopTrash::percentEncoded("a b%.txt"), "a%20b%25.txt");
    EXPECT_TRUE(trashEmpty()) << "the home trash is not used";

    EXPECT_EQ(FreedesktopTrash::putBack(placement, folder, item.filename().string()), 0);
    EXPECT_EQ(contents(item), "elsewhere");
    EXPECT_FALSE(fs::exists(placement.infoPath));
    std::error_code ignored;
    if (!trashExisted) fs::remove_all(trash, ignored);
}

// Folders are reached from "/" with no link on the way, the folder's own
// place included, whether the kernel resolves the path or we go step by step.
TEST_F(TrashTest, FoldersAreOpenedWithoutFollowingLinks)
{
    write(work / "a" / "file", "x");
    fs::create_directory_symlink(work / "a", work / "link");
    const std::vector<std::pair<fs::path, int>> refused{{work / "link", ELOOP},
                                                        {work / "link" / "b", ELOOP},
                                                        {work / "a" / "file", ENOTDIR},
                                                        {work / "missing", ENOENT}};
    using Open = FreedesktopTrash::Folder (*)(const std::string&);
    for (const Open open : {&FreedesktopTrash::Folder::open, &FreedesktopTrash::Folder::openStepByStep}) {
        const auto folder = open((work / "a").string());
        struct stat expected {};
        ASSERT_EQ(::stat((work / "a").c_str(), &expected), 0);
        ASSERT_TRUE(folder.stat());
        EXPECT_EQ(folder.stat()->st_ino, expected.st_ino);
        EXPECT_TRUE(folder.stat("file"));
        for (const auto& [path, error] : refused) {
            try {
                open(path.string());
                ADD_FAILURE() << path << " opened";
            } catch (const FreedesktopTrash::Error& failure) {
                EXPECT_EQ(failure.code(), error) << path;
            }
        }
    }
}

}  // namespace
}  // namespace corvalent
