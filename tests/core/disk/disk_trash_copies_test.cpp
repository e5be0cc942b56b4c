// Copies that lie in a Trash, found by a real scan: by the Trash's layout on
// any home and volume, and the home Trash by its device and inode under a
// name that does not tell it. Such a copy is never the one kept, never makes
// a pair, and is never offered for the Trash.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

#include "core/disk/disk.h"
#include "core/disk/disk_duplicates.h"
#include "core/disk/disk_insights.h"
#include "disk_printers.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Role = DiskDuplicateCopyRole;
using testing::writeFile;

constexpr std::size_t fileBytes = 10'000'001;  // large enough to be a possible duplicate

struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
};

DiskScanResult scan(const fs::path& root)
{
    return DiskScanner::scan(root.string(), true, 8, 14, {}, {});
}

std::vector<std::string> pathsOf(const std::vector<DiskFile>& files)
{
    std::vector<std::string> paths;
    for (const auto& file : files) paths.push_back(file.path);
    return paths;
}

// The scan's one group, verified into one set, with each copy's role.
std::pair<DiskVerifiedDuplicateSet, std::vector<Role>> verifiedRoles(const DiskScanResult& result)
{
    EXPECT_EQ(result.potentialDuplicateGroups.size(), 1U);
    if (result.potentialDuplicateGroups.empty()) return {};
    auto sets = DiskDuplicateVerifier::verify(result.potentialDuplicateGroups.front());
    EXPECT_EQ(sets.size(), 1U);
    if (sets.empty()) return {};
    auto roles = DiskDuplicateCopies::roles(sets.front(), Paths::Home::current(), result.trashFolders);
    return {std::move(sets.front()), std::move(roles)};
}

// The candidate the scan's insights made of `path`.
std::optional<DiskCleanupCandidate> candidateFor(const DiskScanResult& result, const fs::path& path)
{
    const auto list = DiskInsights::candidates(result, {}, 80);
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.path == path.string(); });
    if (found == list.end()) return std::nullopt;
    return *found;
}

// A tree like /home and /media scanned whole: another user's home Trash and
// both kinds of a volume's Trash sort before the copies outside them.
TEST(DiskTrashCopies, ATrashIsKnownByItsLayoutOnAnyHomeAndVolume)
{
    const testing::TempHome self;  // this user's Trash lies elsewhere
    const testing::TempDir top;
    const auto root = fs::canonical(top.path());
    const std::vector<fs::path> inTrash{
        root / "home/bob/.local/share/Trash/files/film.mkv",
        root / "media/a-usb/.Trash-1000/files/film.mkv",
        root / "media/b-disk/.Trash/1000/files/nested/film.mkv",
    };
    const auto saved = root / "media/z-films/film.mkv";
    for (const auto& path : inTrash) writeFile(path, fileBytes);
    writeFile(saved, fileBytes);

    const auto alone = scan(root);
    EXPECT_TRUE(alone.potentialDuplicateGroups.empty())
        << "one copy outside every Trash is no duplicate, however many the Trashes hold";
    EXPECT_TRUE(alone.trashFolders.empty()) << "no folder here is this user's Trash";

    const auto copy = root / "media/z-films/more/film.mkv";
    writeFile(copy, fileBytes);
    const auto result = scan(root);
    const auto [set, roles] = verifiedRoles(result);
    ASSERT_EQ(pathsOf(set.files), (std::vector<std::string>{inTrash[0], inTrash[1], inTrash[2], saved, copy}));
    EXPECT_EQ(roles, (std::vector{Role::protected_, Role::protected_, Role::protected_, Role::keep, Role::review}));
    EXPECT_EQ(DiskDuplicateCopies::outsideTrash(set.files, Paths::Home::current()), 2U);

    // The largest files include the Trash copies; none is offered.
    for (const auto& path : inTrash) {
        const auto candidate = candidateFor(result, path);
        ASSERT_TRUE(candidate) << path;
        EXPECT_FALSE(candidate->canMoveToTrash()) << path;
    }
    const auto offered = candidateFor(result, copy);
    ASSERT_TRUE(offered);
    EXPECT_TRUE(offered->canMoveToTrash()) << "a copy outside a Trash still is";
}

// The home Trash bound into the home under names that sort first: its copy
// would be kept and the only other copy offered, were the Trash known by its
// path alone. The test program runs in a mount namespace of its own.
TEST(DiskTrashCopies, TheHomeTrashIsKnownByDeviceAndInodeUnderAnyName)
{
    const testing::TempHome temp;
    const auto home = fs::canonical(temp.home);
    const auto trash = temp.trash();
    writeFile(trash / "files/film.mkv", fileBytes);
    const auto saved = home / "Documents/film.mkv";
    writeFile(saved, fileBytes);
    const auto boundFiles = home / "AAA", boundTrash = home / "0";
    fs::create_directories(boundFiles);
    fs::create_directories(boundTrash);
    if (::getuid() != 0 || ::mount((trash / "files").c_str(), boundFiles.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind here";
    const Unmount unmountFiles{boundFiles};
    ASSERT_EQ(::mount(trash.c_str(), boundTrash.c_str(), nullptr, MS_BIND, nullptr), 0);
    const Unmount unmountTrash{boundTrash};

    const auto alone = scan(home);
    EXPECT_EQ(alone.trashFolders, (std::vector<std::string>{boundTrash, boundFiles}));
    EXPECT_TRUE(alone.potentialDuplicateGroups.empty()) << "the Trash's copy makes no pair with the only other one";

    const auto copy = home / "Documents/more/film.mkv";
    writeFile(copy, fileBytes);
    const auto result = scan(home);
    const auto [set, roles] = verifiedRoles(result);
    const auto bound = [&](const std::string& path) {
        return path.starts_with(boundTrash.string() + "/") || path.starts_with(boundFiles.string() + "/");
    };
    ASSERT_EQ(set.files.size(), 3U);
    EXPECT_TRUE(bound(set.files[0].path)) << set.files[0].path;
    EXPECT_EQ(pathsOf({set.files[1], set.files[2]}), (std::vector<std::string>{saved, copy}));
    EXPECT_EQ(roles, (std::vector{Role::protected_, Role::keep, Role::review}));

    for (const auto& path : {boundFiles / "film.mkv", boundTrash / "files/film.mkv", boundFiles}) {
        const auto candidate = DiskInsights::classify(path.string(), fileBytes, false, {}, Paths::Home::current(),
                                                      result.trashFolders);
        EXPECT_FALSE(candidate.canMoveToTrash()) << path;
    }
    for (const auto& file : result.largestFiles) {
        const auto candidate = candidateFor(result, file.path);
        ASSERT_TRUE(candidate) << file.path;
        EXPECT_EQ(candidate->canMoveToTrash(), !bound(file.path)) << file.path;
    }
}

}  // namespace
}  // namespace corvalent
