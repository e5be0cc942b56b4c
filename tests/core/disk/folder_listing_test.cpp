// Listing through a helper process: what the helper prints comes back as
// folders; a helper that fails, prints half a record or never answers
// gives a clear outcome.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "core/common/child_process.h"
#include "core/disk/folder_listing.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(FolderListing, TheHelpersOutputComesBackAsFolders)
{
    PLFolderListing listed;
    listed.entries = {{"Music", PLFolderKind::folder}, {"share", PLFolderKind::mountPoint},
                      {"caf\xc3\xa9 & co", PLFolderKind::linkedFolder}, {"out", PLFolderKind::elsewhere}};
    auto decoded = FolderLister::decode(FolderLister::encode(listed));
    EXPECT_EQ(decoded.outcome, FolderListing::Outcome::listed);
    EXPECT_EQ(decoded.folders, listed.entries);

    // Read partly, then an error: what was read still shows.
    listed.error = EIO;
    decoded = FolderLister::decode(FolderLister::encode(listed));
    EXPECT_EQ(decoded.outcome, FolderListing::Outcome::listed);
    EXPECT_EQ(decoded.folders.size(), 4u);
    // Nothing read: the error.
    decoded = FolderLister::decode(FolderLister::encode(PLFolderListing{EACCES, {}}));
    EXPECT_EQ(decoded.outcome, FolderListing::Outcome::failed);
    EXPECT_EQ(decoded.error, EACCES);
    // A record cut short, or of no known kind, is left out.
    decoded = FolderLister::decode(std::string("dMusic\0zodd\0dhal", 16));
    EXPECT_EQ(decoded.folders, (std::vector<PLFolderEntry>{{"Music", PLFolderKind::folder}}));
}

TEST(FolderListing, AHelperThatFailsOrNeverAnswersSaysSo)
{
    EXPECT_EQ(FolderLister::listApart("/", 10s, {}, nullptr, "/bin/false").outcome, FolderListing::Outcome::failed);
    EXPECT_EQ(FolderLister::listApart("/", 10s, {}, nullptr, "/nonexistent/helper").outcome,
              FolderListing::Outcome::failed);

    const auto silent = FolderLister::listApart("/", 300ms, {}, nullptr, testing::idleChildProgram().string());
    EXPECT_EQ(silent.outcome, FolderListing::Outcome::notAnswering);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(
        FolderLister::listApart("/", 10s, stop.get_token(), nullptr, testing::idleChildProgram().string()).outcome,
        FolderListing::Outcome::stopped);
}

// An upgrade replaces the program's file while it runs: the program still
// lists through itself. A copy of this test program, started from a file
// that it then replaces, lists a folder through a child of its own, named
// by nobody: the listing's own choice of program.
TEST(FolderListing, ThisProgramStillListsAfterAnUpgradeReplacedItsFile)
{
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "tree" / "Music");
    const auto copy = dir.path() / "corvalent";
    fs::copy_file(fs::read_symlink(std::string(thisProgram)), copy);
    testing::ScopedVariable folder("CORVALENT_TEST_LIST_AFTER_UPGRADE", (dir.path() / "tree").string());
    testing::ChildProcess program(copy, {"--gtest_filter=FolderListingAfterUpgrade.*"}, dir.path());
    const auto status = program.waitFor(120s);
    ASSERT_TRUE(status.has_value()) << "still running two minutes later";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
}

// The copy's side of the case above.
TEST(FolderListingAfterUpgrade, ReplacesItsOwnFileAndLists)
{
    const char* folder = std::getenv("CORVALENT_TEST_LIST_AFTER_UPGRADE");
    if (folder == nullptr) GTEST_SKIP() << "run by the test above";
    const auto file = fs::read_symlink(std::string(thisProgram));
    ASSERT_TRUE(fs::remove(file));
    testing::writeFile(file, 4'096);  // the new version, as a package upgrade leaves it
    const auto listing = FolderLister::listApart(folder, 60s, {});
    EXPECT_EQ(listing.outcome, FolderListing::Outcome::listed);
    EXPECT_EQ(listing.folders, (std::vector<PLFolderEntry>{{"Music", PLFolderKind::folder}}));
}

}  // namespace
}  // namespace corvalent
