#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <future>
#include <iterator>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::SlowMount;
using testing::SlowTree;
using testing::TempDir;

// The listing's errno, or 0 once every entry was read.
int listFolder(const fs::path& folder)
{
    DIR* stream = ::opendir(folder.c_str());
    if (stream == nullptr) return errno;
    errno = 0;
    while (::readdir(stream) != nullptr) {
    }
    const int error = errno;
    ::closedir(stream);
    return error;
}

// The test file system serves its tree, and its slow calls sleep.
TEST(SlowMount, ServesItsTreeAndSleepsWhereAsked)
{
    TempDir dir;
    SlowTree tree;
    tree.folders = {"a/b", "slow"};
    tree.files = {{"a/one.bin", 5000}, {"a/b/two.bin", 5000}};
    tree.slowList = {"slow"};
    tree.slowRead = {"a/one.bin"};
    tree.delay = 400ms;
    SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    EXPECT_EQ(fs::file_size(mount.path() / "a/one.bin"), 5000U);
    std::ifstream one(mount.path() / "a/one.bin", std::ios::binary), two(mount.path() / "a/b/two.bin", std::ios::binary);
    const std::string oneBytes{std::istreambuf_iterator<char>(one), {}}, twoBytes{std::istreambuf_iterator<char>(two), {}};
    EXPECT_EQ(oneBytes.size(), 5000U);
    EXPECT_EQ(oneBytes, twoBytes);
    EXPECT_GE(mount.slowCallsBegun(), 1U);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(listFolder(mount.path() / "slow"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(listFolder(mount.path() / "a"), 0);
}

// A call that sleeps 30 s neither holds the teardown nor outlives it, and a
// caller killed while its call sleeps ends at once.
TEST(SlowMount, NeverHeldByASleepingCall)
{
    TempDir dir;
    SlowTree tree;
    tree.folders = {"slow"};
    tree.slowList = {"slow"};
    tree.slowStat = {"."};
    SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    testing::ChildProcess lister("/bin/ls", {(mount.path() / "slow").string()}, dir.path());
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    ::kill(lister.pid(), SIGKILL);
    EXPECT_TRUE(lister.waitFor(5s).has_value());

    // The mount point's own stat sleeps: what the parent's walk meets.
    auto stat = std::async(std::launch::async, [&] {
        struct stat info {};
        return ::lstat(mount.path().c_str(), &info) == 0 ? 0 : errno;
    });
    ASSERT_TRUE(mount.waitForSlowCalls(2));
    const auto start = std::chrono::steady_clock::now();
    mount.unmount();
    ASSERT_EQ(stat.wait_for(5s), std::future_status::ready);
    EXPECT_NE(stat.get(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
}  // namespace corvalent
