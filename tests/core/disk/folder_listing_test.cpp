// Listing through a helper process: what the helper prints comes back as
// folders; a helper that fails, prints half a record or never answers
// gives a clear outcome.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "core/disk/folder_listing.h"
#include "test_support.h"

namespace corvalent {
namespace {

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
    EXPECT_EQ(FolderLister::listApart("/bin/false", "/", 10s, {}).outcome, FolderListing::Outcome::failed);
    EXPECT_EQ(FolderLister::listApart("/nonexistent/helper", "/", 10s, {}).outcome, FolderListing::Outcome::failed);

    const auto silent = FolderLister::listApart(testing::idleChildProgram().string(), "/", 300ms, {});
    EXPECT_EQ(silent.outcome, FolderListing::Outcome::notAnswering);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(FolderLister::listApart(testing::idleChildProgram().string(), "/", 10s, stop.get_token()).outcome,
              FolderListing::Outcome::stopped);
}

}  // namespace
}  // namespace corvalent
