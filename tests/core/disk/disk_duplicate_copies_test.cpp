// What a verified set offers for each of its copies, and its figures once
// copies have moved.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>

#include "core/disk/disk_duplicates.h"
#include "disk_printers.h"
#include "test_support.h"

namespace corvalent {
namespace {

constexpr std::uint64_t MB = 1'000'000;

DiskVerifiedDuplicateSet setOf(const std::vector<std::string>& paths)
{
    std::vector<DiskFile> files;
    for (const auto& path : paths) files.push_back({path, 12 * MB, 12 * MB, 1, 0, false});
    return DiskVerifiedDuplicateSet::make({}, files, {});
}

// A copy in a Trash is lost once the Trash is emptied: the kept copy is the
// first outside every Trash, and no copy in a Trash is offered.
TEST(DiskDuplicateCopies, ACopyInATrashIsNeverTheKeptOneNorOffered)
{
    using Role = DiskDuplicateCopyRole;
    const testing::ScopedVariable dataHome("XDG_DATA_HOME", "");  // the home Trash under ~/.local/share
    const std::string home = "/home/ana";
    const Paths::Home ana(home);
    const auto homeTrashCopy = home + "/.local/share/Trash/files/film.mkv";
    const auto volumeTrashCopy = "/media/ana/usb/.Trash-1000/files/film.mkv";
    const auto sharedTrashCopy = "/media/ana/disk/.Trash/1000/files/film.mkv";
    const auto saved = home + "/films/film.mkv", copy = home + "/more/film.mkv";

    const auto inHome = setOf({copy, saved, homeTrashCopy});
    ASSERT_EQ(inHome.files.front().path, homeTrashCopy) << "the home's Trash copy sorts first";
    EXPECT_EQ(DiskDuplicateCopies::roles(inHome, ana), (std::vector{Role::protected_, Role::keep, Role::review}));
    const auto onVolumes = setOf({"/media/ana/usb/film.mkv", volumeTrashCopy, sharedTrashCopy});
    EXPECT_EQ(DiskDuplicateCopies::roles(onVolumes, ana),
              (std::vector{Role::protected_, Role::protected_, Role::keep}))
        << "a volume's Trash, of either kind, neither";
    EXPECT_EQ(DiskDuplicateCopies::roles(setOf({homeTrashCopy, volumeTrashCopy}), ana),
              (std::vector{Role::protected_, Role::protected_}))
        << "nothing outside a Trash: nothing to keep, nothing to offer";
    // Without a Trash copy, the first is kept; another copy the Trash may not take shows the lock.
    EXPECT_EQ(DiskDuplicateCopies::roles(setOf({saved, home + "/more/film.db"}), ana),
              (std::vector{Role::keep, Role::protected_}));

    // A home reached through a link, as where /home is a link to /var/home:
    // the scan's paths are where the copies really are. The home's Trash is
    // recognised there, under the data folder's link or under the home's own.
    const testing::TempHome linked(testing::TempHome::Reached::throughLink);
    ASSERT_NE(std::getenv("HOME"), linked.home.string());
    const auto document = (linked.home / "Documents/X.pdf").string();
    for (const auto& trash : {linked.trash(), linked.home / ".local/share/Trash"}) {
        std::optional<testing::ScopedVariable> underHome;
        if (trash != linked.trash()) underHome.emplace("XDG_DATA_HOME", "");
        std::filesystem::create_directories(trash / "files");
        const auto set = setOf({document, (trash / "files/X.pdf").string()});
        ASSERT_NE(set.files.front().path, document) << "the Trash's copy sorts first";
        EXPECT_EQ(DiskDuplicateCopies::roles(set, Paths::Home::current()), (std::vector{Role::protected_, Role::keep}))
            << trash;
    }
}

// After a move the set's figures are those of the copies left.
TEST(DiskDuplicateCopies, MovedCopiesLeaveTheSetAndItsFigures)
{
    const auto file = [](std::string path, std::uint64_t bytes) {
        return DiskFile{std::move(path), bytes, 9, 1, 0, false};
    };
    const auto identity = [](std::string path) { return DiskRecordedIdentity{.identity = {.path = std::move(path)}}; };
    const auto set = DiskVerifiedDuplicateSet::make({}, {file("/a", 100), file("/b", 100), file("/c", 40)},
                                                    {identity("/a"), identity("/b"), identity("/c")});
    ASSERT_EQ(set.estimatedRecoverableBytes, 200U);
    const auto without = [&](std::set<std::string> gone) {
        return DiskDuplicateCopies::remaining(set, [&](const std::string& path) { return gone.contains(path); });
    };
    const auto left = without({"/b"});
    EXPECT_EQ(left.files, (std::vector{file("/a", 100), file("/c", 40)}));
    EXPECT_EQ(left.identities, (std::vector{identity("/a"), identity("/c")})) << "still paired";
    EXPECT_EQ(left.estimatedRecoverableBytes, 100U);
    EXPECT_EQ(std::pair(left.id, left.logicalBytesPerFile), std::pair(set.id, set.logicalBytesPerFile));
    EXPECT_EQ(without({"/a", "/c"}).estimatedRecoverableBytes, 0U) << "one copy left frees nothing";
    EXPECT_EQ(without({}), set);
}

}  // namespace
}  // namespace corvalent
