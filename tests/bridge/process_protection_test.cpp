#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

constexpr std::int32_t otherPid = 4242;

std::int32_t reason(const std::string& path, const std::string& name = "tool")
{
    return pl_protection_reason(otherPid == ::getpid() ? otherPid + 1 : otherPid, ::getuid(), path.c_str(),
                                name.c_str());
}

TEST(ProcessProtectionRules, IdentityRulesComeFirst)
{
    EXPECT_EQ(pl_protection_reason(1, ::getuid(), "/opt/x/tool", "tool"), 1);
    EXPECT_EQ(pl_protection_reason(0, ::getuid(), "/opt/x/tool", "tool"), 1);
    EXPECT_EQ(pl_protection_reason(-7, ::getuid(), "/opt/x/tool", "tool"), 1);
    EXPECT_EQ(pl_protection_reason(::getpid(), ::getuid(), "/Applications/Corvalent.app/x", "Corvalent"), 2);
    // The user test comes before the critical-service names.
    EXPECT_EQ(pl_protection_reason(otherPid, ::getuid() + 1, "/sbin/launchd", "launchd"), 3);
    EXPECT_EQ(pl_protection_reason(otherPid, ::getuid(), nullptr, "tool"), 4);
    EXPECT_EQ(pl_protection_reason(otherPid, ::getuid(), "/opt/x/tool", nullptr), 4);
    EXPECT_EQ(reason("", "tool"), 4);
    EXPECT_EQ(reason("/opt/x/tool", ""), 4);
}

TEST(ProcessProtectionRules, CriticalNamesAndSecurityMarkers)
{
    EXPECT_EQ(reason("/opt/x/kernel_task", "kernel_task"), 5);
    EXPECT_EQ(reason("/opt/x/launchd_sim", "launchd_sim"), 0) << "critical names match only whole";
    EXPECT_EQ(reason("/Applications/Little Snitch.app/Contents/MacOS/agent"), 6);
    EXPECT_EQ(reason("/opt/Tailscale/tailscaled"), 6) << "markers come before approved places";
}

TEST(ProcessProtectionRules, ApprovedPlaces)
{
    for (const char* path : {"/Applications/App.app/Contents/MacOS/App", "/opt/homebrew/bin/node",
                             "/usr/local/bin/node", "/Library/Java/JavaVirtualMachines/jdk/bin/java", "/opt/app/bin/app",
                             "/usr/lib/jvm/java-17/bin/java", "/home/linuxbrew/.linuxbrew/bin/node"})
        EXPECT_EQ(reason(path), 0) << path;
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Volumes/iOS/RuntimeRoot/usr/bin/x"), 0);
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Profiles/x"), 7);
    for (const char* path : {"/usr/bin/sleep", "/bin/sh", "/System/Library/x", "/usr/libexec/x", "/sbin/x",
                             "/optional/x", "/usr/lib/jvmx/java"})
        EXPECT_EQ(reason(path), 7) << path;
}

TEST(ProcessProtectionRules, HomeFolderApprovesOnlyWhatLiesInsideIt)
{
    const std::string home = testing::accountHome().string();
    ASSERT_STREQ(pl_account_home(), home.c_str());
    if (home == "/") GTEST_SKIP() << "a home of / approves nothing";
    EXPECT_EQ(reason(home + "/bin/tool"), 0);
    EXPECT_EQ(reason(home), 7);
    EXPECT_EQ(reason(home + "bel/tool"), 7);
}

}  // namespace
}  // namespace corvalent
