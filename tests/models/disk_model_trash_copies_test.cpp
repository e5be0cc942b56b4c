// Copies inside a Trash, in any spelling of the home or under any name:
// never kept, never offered, and never a copy that makes a set.

#include <gtest/gtest.h>
#include <QTest>

#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

#include "disk_model_moves.h"
#include "disk_printers.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::megabyte;
using testing::Moves;
using testing::writeFile;

// With the home reached through a link, as where /home is a link to
// /var/home, the Trash's copy is neither kept nor offered: the copy outside
// the Trash stays.
TEST(DiskModelMoves, AHomeReachedThroughALinkKeepsTheCopyOutsideItsTrash)
{
    Moves moves(testing::TempHome::Reached::throughLink);
    auto& model = moves.model;
    const auto paper = moves.temp.home / "papers/X.pdf", trashed = moves.temp.trash() / "files/X.pdf";
    writeFile(paper, 10 * megabyte);
    fs::create_directories(trashed.parent_path());
    fs::copy_file(paper, trashed);
    fs::copy_file(paper, moves.temp.home / "papers/X copy.pdf");  // two outside the Trash make a set
    ASSERT_TRUE(moves.rescanned());
    const auto& groups = model.result()->potentialDuplicateGroups;
    ASSERT_EQ(groups.size(), 1U);
    model.verifyDuplicates(groups.front());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    const auto& sets = model.verifiedDuplicateSets().at(groups.front().id);
    ASSERT_EQ(sets.size(), 1U);
    ASSERT_EQ(sets[0].files.front().path, trashed.string()) << "the Trash's copy sorts first";
    EXPECT_EQ(model.duplicateCopyRoles(sets[0]),
              (std::vector{DiskDuplicateCopyRole::protected_, DiskDuplicateCopyRole::keep,
                           DiskDuplicateCopyRole::review}));
    EXPECT_FALSE(model.cleanupCandidate(trashed.string(), 1, false).canMoveToTrash());
}

// The home Trash bound into the home under a name that sorts first: its
// copies are in the Trash all the same. They are offered nowhere, and a
// verified set with one copy left outside every Trash is no set. The test
// program runs in a mount namespace of its own.
TEST(DiskModelMoves, ACopyInATrashNeitherMakesASetNorIsOffered)
{
    Moves moves;
    auto& model = moves.model;
    const auto films = moves.temp.home / "films";
    const std::vector copies{films / "a.mkv", films / "b.mkv"};
    for (const auto& copy : copies) writeFile(copy, 10 * megabyte);
    const auto trashFiles = moves.temp.trash() / "files";
    fs::create_directories(trashFiles);
    fs::copy_file(copies[0], trashFiles / "a.mkv");
    const auto bound = moves.temp.home / "AAA";
    fs::create_directory(bound);
    if (::getuid() != 0 || ::mount(trashFiles.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind here";
    const struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{bound};

    ASSERT_TRUE(moves.rescanned());
    EXPECT_EQ(model.result()->trashFolders, std::vector{bound.string()});
    for (const auto& name : {"AAA/a.mkv", "films/a.mkv"})
        EXPECT_TRUE(moves.listed(moves.temp.home / name)) << name;
    EXPECT_FALSE(model.cleanupCandidate((bound / "a.mkv").string(), 1, false).canMoveToTrash())
        << "the largest files' and the map's menus offer nothing in a Trash";
    EXPECT_TRUE(model.cleanupCandidate(copies[1].string(), 1, false).canMoveToTrash());
    for (const auto& candidate : model.cleanupCandidates())
        EXPECT_EQ(candidate.canMoveToTrash(), !candidate.path.starts_with((bound / "").string()) &&
                                                  !candidate.path.starts_with((trashFiles / "").string()))
            << candidate.path;

    const auto group = model.result()->potentialDuplicateGroups.at(0);
    ASSERT_EQ(group.files.size(), 3U);
    model.verifyDuplicates(group);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    const auto sets = model.verifiedDuplicateSets().at(group.id);
    ASSERT_EQ(model.duplicateSetsLeft(sets).size(), 1U);
    EXPECT_EQ(model.duplicateCopyRoles(sets[0]),
              (std::vector{DiskDuplicateCopyRole::protected_, DiskDuplicateCopyRole::keep,
                           DiskDuplicateCopyRole::review}));

    ASSERT_TRUE(moves.moved(copies[1]));
    EXPECT_TRUE(model.duplicateSetsLeft(sets).empty()) << "one copy outside the Trash duplicates nothing";
    EXPECT_EQ(model.duplicateMessage(), std::nullopt);
    EXPECT_EQ(model.copiesOutsideTrash(model.duplicateCopiesLeft(group).files), 1U) << "nothing left to verify";
}

}  // namespace
}  // namespace corvalent
