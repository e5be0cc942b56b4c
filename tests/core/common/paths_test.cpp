// The home's real spelling: a path below the home, in either spelling, is
// rewritten against where the home really is, also when that is "/".
#include <gtest/gtest.h>

#include <filesystem>

#include "core/common/paths.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

TEST(PathsHome, RealSpellingRewritesBelowTheHomeAlsoWhenItIsTheTop)
{
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "var" / "ana");
    fs::create_directory_symlink(dir.path() / "var" / "ana", dir.path() / "ana");
    const Paths::Home linked((dir.path() / "ana").string());
    const auto real = (dir.path() / "var" / "ana").string();
    EXPECT_EQ(linked.realSpelling((dir.path() / "ana" / "Music").string()), real + "/Music");
    EXPECT_EQ(linked.realSpelling(real + "/Music"), real + "/Music");
    EXPECT_EQ(linked.realSpelling((dir.path() / "ana").string()), real);
    EXPECT_EQ(linked.realSpelling((dir.path() / "other").string()), (dir.path() / "other").string());

    // A home that is a link to the top: below it, a path is its own rest.
    fs::create_directory_symlink("/", dir.path() / "top");
    const Paths::Home top((dir.path() / "top").string());
    ASSERT_EQ(top.real(), "/");
    EXPECT_EQ(top.realSpelling((dir.path() / "top" / "usr" / "lib").string()), "/usr/lib");
    EXPECT_EQ(top.realSpelling((dir.path() / "top").string()), "/");
    EXPECT_EQ(top.realSpelling("/usr"), "/usr");
}

}  // namespace
}  // namespace corvalent
