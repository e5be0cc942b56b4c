// Listing one folder's folders for a chooser, beside a mount that never
// answers: the mount point is listed and never looked at, a link is followed
// only while it stays on the folder's own file system, and files are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "bridge/folder_list.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

TEST(FolderList, ListsFoldersAndNeverLooksAtAnotherMount)
{
    testing::TempDir dir;
    const auto root = dir.path();
    fs::create_directories(root / "Documents");
    fs::create_directories(root / ".hidden");
    testing::writeFile(root / "notes.txt", 10);
    fs::create_directory_symlink(root / "Documents", root / "docs");
    fs::create_symlink(root / "notes.txt", root / "notes link");
    fs::create_symlink(root / "gone", root / "broken");
    fs::create_directory_symlink(root / "share" / "inside", root / "into the share");
    testing::SlowTree tree;
    tree.folders = {"inside"};
    tree.slowStat = tree.slowList = tree.slowStatfs = {".", "inside"};
    tree.neverAnswers = true;
    testing::SlowMount mount(root / "share", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    auto listing = pl_list_folders(root.c_str());
    EXPECT_EQ(listing.error, 0);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    const std::vector<PLFolderEntry> expected{
        {".hidden", PLFolderKind::folder},
        {"Documents", PLFolderKind::folder},
        {"docs", PLFolderKind::linkedFolder},
        {"into the share", PLFolderKind::elsewhere},
        {"share", PLFolderKind::mountPoint},
    };
    EXPECT_EQ(listing.entries, expected);
    EXPECT_EQ(mount.slowCallsBegun(), 0u);

    EXPECT_EQ(pl_list_folders((root / "missing").c_str()).error, ENOENT);
    EXPECT_EQ(pl_list_folders((root / "notes.txt").c_str()).error, ENOTDIR);
    EXPECT_EQ(pl_list_folders("relative").error, EINVAL);
}

}  // namespace
}  // namespace corvalent
