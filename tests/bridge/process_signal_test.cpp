#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// A sleeping child started from a copy under the account's home: stoppable.
class StoppableChild : public ::testing::Test {
protected:
    testing::TempDir bin = testing::tempDirUnderHome();
    std::filesystem::path program = testing::copyExecutable("/bin/sleep", bin.path(), "sleep");
    ChildProcess child{program, {"30"}, bin.path()};

    PLProcessInfo read()
    {
        PLProcessInfo info;
        EXPECT_EQ(pl_read(child.pid(), &info), 1);
        return info;
    }
    int signalOf(std::optional<int> status)
    {
        return status && WIFSIGNALED(*status) ? WTERMSIG(*status) : -1;
    }
};

TEST_F(StoppableChild, TerminateAndKillReachTheChild)
{
    const auto info = read();
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), 0);
    EXPECT_EQ(signalOf(child.waitFor(5s)), SIGTERM);

    ChildProcess second(program, {"30"}, bin.path());
    PLProcessInfo secondInfo;
    ASSERT_EQ(pl_read(second.pid(), &secondInfo), 1);
    EXPECT_EQ(pl_signal(secondInfo.pid, secondInfo.started, secondInfo.path, 1), 0);
    EXPECT_EQ(signalOf(second.waitFor(5s)), SIGKILL);
}

TEST_F(StoppableChild, StaleIdentityIsRefusedAndTheChildLives)
{
    const auto info = read();
    EXPECT_EQ(pl_signal(info.pid, info.started + 1, info.path, 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, "/usr/bin/sleep", 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, nullptr, 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 2), EINVAL);
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, -1), EINVAL) << "force is compared unsigned";
    EXPECT_TRUE(child.running());
}

TEST_F(StoppableChild, ExitedChildIsGone)
{
    const auto info = read();
    ::kill(child.pid(), SIGKILL);
    ASSERT_TRUE(child.waitUntilZombie(5s));
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), ESRCH) << "a zombie";
    child.wait();
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), ESRCH) << "reaped";
}

TEST(ProcessSignal, RestrictedProcessIsNeverSignalled)
{
    const testing::TempDir work;
    ChildProcess child(testing::copyExecutable("/usr/bin/sleep", work.path(), "sleep"), {"30"}, work.path());
    PLProcessInfo info;
    ASSERT_EQ(pl_read(child.pid(), &info), 1);
    ASSERT_EQ(pl_protection_reason(info.pid, info.uid, info.path, info.name), 7);
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 1), EPERM);
    EXPECT_FALSE(child.waitFor(50ms).has_value());
    EXPECT_TRUE(child.running());
}

}  // namespace
}  // namespace corvalent
