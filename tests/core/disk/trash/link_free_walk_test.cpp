// The one walk by which the Trash layer and the executor reach a path.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cerrno>
#include <filesystem>
#include <string>

#include "core/disk/trash/link_free_walk.h"
#include "test_support.h"
#include "trash_test.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::contents;
using testing::write;

ino_t inodeOf(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

// A folder swapped for a link to another while the walk is under way: one
// the walk holds already is not reached again by its name, and the walk goes
// on in it; one it has yet to reach is refused where the link is.
TEST(LinkFreeWalk, AFolderSwappedForALinkBetweenStepsIsNeverFollowed)
{
    testing::TempDir temp;
    const auto root = fs::canonical(temp.path());
    const auto outer = root / "outer", decoys = root / "decoys";
    const auto item = outer / "inner" / "item";
    write(item, "reviewed");
    write(decoys / "inner" / "item", "decoy");
    const auto swapForLink = [](const fs::path& folder, const fs::path& target) {
        fs::rename(folder, folder.string() + ".old");
        fs::create_directory_symlink(target, folder);
    };

    // "outer" is swapped right after the walk reached it.
    const auto outerInode = inodeOf(outer);
    std::size_t steps = 0;
    const auto reached = LinkFreeWalk::reach(item.string(), [&](const struct stat& info) {
        ++steps;
        if (info.st_ino == outerInode) swapForLink(outer, decoys);
    });
    EXPECT_EQ(steps, static_cast<std::size_t>(std::distance(item.begin(), item.end())) - 1)
        << "every name seen, the item's own included";
    EXPECT_TRUE(S_ISREG(reached.info.st_mode));
    EXPECT_EQ(reached.info.st_ino, inodeOf(root / "outer.old" / "inner" / "item")) << "the item, not the decoy";
    struct stat held {};
    ASSERT_EQ(::fstat(reached.handle.get(), &held), 0);
    EXPECT_EQ(held.st_ino, reached.info.st_ino);

    // "inner" is swapped while the walk stands in "outer", before it reaches "inner".
    fs::remove(outer);
    fs::rename(root / "outer.old", outer);
    try {
        LinkFreeWalk::reach(item.string(), [&](const struct stat& info) {
            if (info.st_ino == outerInode) swapForLink(outer / "inner", decoys / "inner");
        });
        ADD_FAILURE() << "reached through a link";
    } catch (const LinkFreeWalk::Error& error) {
        EXPECT_EQ(error.code(), ELOOP);
        EXPECT_EQ(error.reached(), (outer / "inner").string());
    }
    EXPECT_EQ(contents(outer / "inner.old" / "item"), "reviewed");
    EXPECT_EQ(contents(decoys / "inner" / "item"), "decoy");
}

}  // namespace
}  // namespace corvalent
