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
    // Session services sit in approved places; the name protects them.
    EXPECT_EQ(reason("/usr/bin/pipewire", "pipewire"), 5);
    EXPECT_EQ(reason("/usr/lib/xorg/Xorg", "Xorg"), 5);
    EXPECT_EQ(reason("/usr/bin/gnome-shell-extension-prefs", "gnome-shell-extension-prefs"), 0);
    EXPECT_EQ(reason("/Applications/Little Snitch.app/Contents/MacOS/agent"), 6);
    EXPECT_EQ(reason("/opt/Tailscale/tailscaled"), 6) << "markers come before approved places";
    EXPECT_EQ(reason("/usr/sbin/clamd", "clamd"), 6);
    EXPECT_EQ(reason("/opt/microsoft/mdatp/sbin/wdavdaemon", "wdavdaemon"), 6);
    EXPECT_EQ(reason("/usr/bin/clamdscan-report", "clamdscan-report"), 0) << "Linux tools match by whole name";
}

TEST(ProcessProtectionRules, ApprovedPlaces)
{
    for (const char* path :
         {"/Applications/App.app/Contents/MacOS/App", "/opt/homebrew/bin/node", "/usr/local/bin/node",
          "/Library/Java/JavaVirtualMachines/jdk/bin/java", "/opt/app/bin/app", "/usr/lib/jvm/java-17/bin/java",
          "/home/linuxbrew/.linuxbrew/bin/node", "/usr/bin/python3", "/usr/lib/firefox-esr/firefox-esr",
          "/usr/share/code/code", "/usr/games/sol", "/snap/firefox/4173/usr/lib/firefox/firefox",
          "/var/lib/flatpak/app/org.gimp.GIMP/current/active/files/bin/gimp"})
        EXPECT_EQ(reason(path), 0) << path;
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Volumes/iOS/RuntimeRoot/usr/bin/x"), 0);
    EXPECT_EQ(reason("/Library/Developer/CoreSimulator/Profiles/x"), 7);
    for (const char* path : {"/usr/sbin/cron", "/sbin/x", "/usr/libexec/gsd-power", "/usr/lib/systemd/systemd-logind",
                             "/System/Library/x", "/optional/x", "/usr/library/x", "/usr/binx/y", "/tmp/tool"})
        EXPECT_EQ(reason(path), 7) << path;
}

TEST(ProcessProtectionRules, RealChildrenByPlaceAndName)
{
    const testing::TempDir outside;  // the temp folder: neither home nor an approved place
    const auto copy = testing::copyExecutable("/usr/bin/sleep", outside.path(), "sleep");
    const auto service = testing::copyExecutable(testing::idleChildProgram(), outside.path(), "wireplumber");
    const auto protectionOf = [](const testing::ChildProcess& child) {
        PLProcessInfo info;
        EXPECT_EQ(pl_read(child.pid(), &info), 1);
        return pl_protection_reason(info.pid, info.uid, info.path, info.name);
    };
    const testing::ChildProcess packaged("/usr/bin/sleep", {"30"}, outside.path());
    const testing::ChildProcess unapproved(copy, {"30"}, outside.path());
    const testing::ChildProcess session(service, {}, outside.path());
    EXPECT_EQ(protectionOf(packaged), 0) << "a packaged program is the user's to stop";
    EXPECT_EQ(protectionOf(unapproved), 7);
    EXPECT_EQ(protectionOf(session), 5) << "the name decides";
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
