#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

constexpr std::int32_t otherPid = 4242;

// What the walk probe prints when run with `arguments`.
std::string probeOutput(const std::string& arguments)
{
    return testing::commandOutput(testing::walkProbeProgram().string() + " " + arguments);
}

std::int32_t reason(const std::string& path, const std::string& name = "tool")
{
    return pl_protection_reason(otherPid == ::getpid() ? otherPid + 1 : otherPid, ::getuid(), path.c_str(),
                                name.c_str());
}

TEST(ProcessProtectionRules, IdentityThenNamesThenPlaces)
{
    EXPECT_EQ(pl_protection_reason(1, ::getuid(), "/opt/x/tool", "tool"), 1);
    EXPECT_EQ(pl_protection_reason(2, ::getuid(), "/opt/x/tool", "tool"), 0);
    EXPECT_EQ(pl_protection_reason(::getpid(), ::getuid(), "/opt/x/tool", "tool"), 2);
    // The user test comes before the critical-service names.
    EXPECT_EQ(pl_protection_reason(otherPid, ::getuid() + 1, "/sbin/launchd", "launchd"), 3);
    EXPECT_EQ(pl_protection_reason(otherPid, ::getuid(), nullptr, "tool"), 4);
    EXPECT_EQ(reason("/opt/x/tool", ""), 4);

    EXPECT_EQ(reason("/opt/x/launchd_sim", "launchd_sim"), 0) << "critical names match only whole";
    // Session services sit in approved places; the name protects them.
    EXPECT_EQ(reason("/usr/lib/xorg/Xorg", "Xorg"), 5);
    EXPECT_EQ(reason("/opt/Tailscale/tailscaled"), 6) << "markers come before approved places";
    EXPECT_EQ(reason("/usr/sbin/clamd", "clamd"), 6);
    EXPECT_EQ(reason("/usr/bin/clamdscan-report", "clamdscan-report"), 0) << "Linux tools match by whole name";

    EXPECT_EQ(reason("/usr/lib/jvm/java-17/bin/java"), 0);
    EXPECT_EQ(reason("/usr/lib/systemd/systemd-logind"), 7) << "a system tree inside an approved one";
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Volumes/iOS/RuntimeRoot/usr/bin/x"), 0);
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Profiles/x"), 7);
    for (const char* path : {"/usr/sbin/cron", "/usr/libexec/gsd-power", "/optional/x", "/usr/binx/y"})
        EXPECT_EQ(reason(path), 7) << path;
}

// Children in the temp folder: neither the home nor an approved place.
TEST(ProcessProtectionRules, RealChildrenByPlaceAndNameAndAProtectedOneIsNeverSignalled)
{
    const testing::TempDir outside;
    const auto read = [](const testing::ChildProcess& child) {
        PLProcessInfo info;
        EXPECT_EQ(pl_read(child.pid(), &info), 1);
        return info;
    };
    const auto protectionOf = [&](const testing::ChildProcess& child) {
        const auto info = read(child);
        return pl_protection_reason(info.pid, info.uid, info.path, info.name);
    };
    const testing::ChildProcess packaged("/usr/bin/sleep", {"30"}, outside.path());
    EXPECT_EQ(protectionOf(packaged), 0) << "a packaged program is the user's to stop";
    const testing::ChildProcess session(
        testing::copyExecutable(testing::idleChildProgram(), outside.path(), "wireplumber"), {}, outside.path());
    EXPECT_EQ(protectionOf(session), 5) << "the name decides";

    testing::ChildProcess unapproved(testing::copyExecutable("/usr/bin/sleep", outside.path(), "sleep"), {"30"},
                                     outside.path());
    const auto info = read(unapproved);
    ASSERT_EQ(pl_protection_reason(info.pid, info.uid, info.path, info.name), 7);
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 1), EPERM);
    EXPECT_FALSE(unapproved.waitFor(std::chrono::milliseconds(50)).has_value());
}

TEST(ProcessProtectionRules, HomeFolderApprovesOnlyWhatLiesInsideIt)
{
    const std::string home = testing::accountHome().string();
    ASSERT_STREQ(pl_account_home(), home.c_str());
    if (home == "/") GTEST_SKIP() << "a home of / approves nothing";
    EXPECT_EQ(reason(home + "/bin/tool"), 0);
    EXPECT_EQ(reason(home), 7);
    EXPECT_EQ(reason(home + "bel/tool"), 7);

    // The kernel names a program by where it really is: a home the account
    // database names through a link approves it all the same, and what lies
    // beside the home still does not.
    if (::geteuid() != 0) GTEST_SKIP() << "an account database of the test's own needs root";
    const testing::TempHome linked(testing::TempHome::Reached::throughLink);
    const std::string named = std::getenv("HOME");
    std::ofstream(linked.root.path() / "passwd")
        << "probe:x:" << ::getuid() << ':' << ::getgid() << "::" << named << ":/bin/sh\n";
    std::filesystem::create_directories(linked.home / "bin");
    const testing::ChildProcess inside(
        testing::copyExecutable(testing::idleChildProgram(), linked.home / "bin", "tool"), {}, linked.home);
    const testing::ChildProcess beside(
        testing::copyExecutable(testing::idleChildProgram(), linked.home.parent_path(), "tool"), {}, linked.home);
    EXPECT_EQ(probeOutput("--protection " + (linked.root.path() / "passwd").string() + " " +
                          std::to_string(inside.pid()) + " " + std::to_string(beside.pid())),
              named + "\n0\n7\n");
}

// Read first while no descriptor is free, the home comes back empty; it is
// read again at the next call, not kept empty for the process's life.
TEST(ProcessProtectionRules, AccountHomeIsReadAgainAfterAFailedRead)
{
    EXPECT_EQ(probeOutput("--account-home"), "\n" + testing::accountHome().string() + "\n");
}

}  // namespace
}  // namespace corvalent
