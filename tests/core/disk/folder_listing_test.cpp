// Listing through a helper process: what the helper prints comes back as
// folders; a helper that fails, prints half a record or never answers
// gives a clear outcome.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iterator>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/common/child_process.h"
#include "core/disk/folder_listing.h"
#include "slow_mount.h"
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

// The children of this process that list a folder now.
int listingHelpers()
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream statFile(entry.path() / "stat");
        const std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        long parent = 0;
        fields >> state >> parent;
        std::ifstream cmdlineFile(entry.path() / "cmdline");
        const std::string cmdline((std::istreambuf_iterator<char>(cmdlineFile)), {});
        if (parent == ::getpid() && cmdline.find(FolderLister::helperFlag) != std::string::npos) ++count;
    }
    return count;
}

// A share whose server is gone, reached from the home through a link: a
// path typed below the link is counted with the share, found without
// asking it, so that however many such paths are asked, no more helpers
// than the share may hold wait in it. A folder whose helper is out is not
// asked again; the home still lists; once the helpers end, the share's
// folders are asked again.
TEST(FolderListing, PathsBelowALinkIntoADeadShareAreCountedWithTheShare)
{
    testing::TempHome home;
    fs::create_directories(home.home / "Projects" / "Mix");
    fs::create_directory_symlink(home.home / "share", home.home / "share link");
    fs::create_directory_symlink("../share link", home.home / "Projects" / "back");
    testing::SlowTree dead;
    dead.folders = {"a", "b", "c", "d"};
    dead.slowStat = dead.slowList = {".", "a", "b", "c", "d"};
    dead.neverAnswers = true;
    testing::SlowMount mount(home.home / "share", dead);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto share = (home.home / "share").string();
    const auto below = [&](const std::string& rest) { return (home.home / "share link").string() + "/" + rest; };
    EXPECT_EQ(FolderLister::countedUnder(below("a/../b")), (ListingPlace{share + "/b", share}));
    EXPECT_EQ(FolderLister::countedUnder((home.home / "Projects" / "back" / "c").string()),
              (ListingPlace{share + "/c", share}));
    EXPECT_EQ(FolderLister::countedUnder((home.home / "Projects" / "Mix").string()),
              (ListingPlace{(home.home / "Projects" / "Mix").string(), ""}));
    EXPECT_EQ(mount.slowCallsBegun(), 0u) << "counted without asking the share";

    using Outcome = FolderListing::Outcome;
    const auto pending = std::make_shared<PendingListings>();
    std::vector<Outcome> outcomes;
    for (const auto* typed : {"a", "b", "c", "d", "b/../c", "a", "./b"})
        outcomes.push_back(FolderLister::listApart(below(typed), 200ms, {}, pending).outcome);
    EXPECT_EQ(outcomes, (std::vector{Outcome::notAnswering, Outcome::notAnswering, Outcome::waiting, Outcome::waiting,
                                     Outcome::waiting, Outcome::notAnswering, Outcome::notAnswering}));
    // One reaches the server; the other may wait in the kernel behind it.
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    ASSERT_TRUE(testing::eventually([] { return listingHelpers() >= PendingListings::perShare; }, 60s));
    EXPECT_EQ(listingHelpers(), PendingListings::perShare);
    EXPECT_EQ(pending->out(share), PendingListings::perShare);
    EXPECT_EQ(mount.slowCallsBegunBy(::getpid()), 0u) << "no thread of the program waits on the share";
    const auto projects = FolderLister::listApart((home.home / "Projects").string(), 20s, {}, pending);
    EXPECT_EQ(projects.outcome, Outcome::listed);
    EXPECT_EQ(projects.folders.size(), 2u);

    // The server is gone for good: the helpers' calls fail, and they end.
    mount.unmount();
    ASSERT_TRUE(testing::eventually([&] { return pending->out(share) == 0; }, 60s));
    EXPECT_EQ(listingHelpers(), 0);
    const auto again = FolderLister::listApart(below("c"), 20s, {}, pending);
    EXPECT_EQ(again.outcome, Outcome::failed) << "asked, and the folder is gone with its share";
    EXPECT_EQ(again.error, ENOENT);
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
