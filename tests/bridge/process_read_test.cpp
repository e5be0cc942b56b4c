#include <algorithm>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

PLProcessInfo readOrFail(pid_t pid)
{
    PLProcessInfo info;
    EXPECT_EQ(pl_read(pid, &info), 1);
    return info;
}

int signalOf(std::optional<int> status)
{
    return status && WIFSIGNALED(*status) ? WTERMSIG(*status) : -1;
}

// Sleeping children started from a copy under the account's home: stoppable.
TEST(ProcessLifecycle, ReadInFullSignalledOnlyWhileTheSameAndGoneOnceExited)
{
    const auto bin = testing::tempDirUnderHome();
    const testing::TempDir work;
    const auto sleep = testing::copyExecutable("/bin/sleep", bin.path(), "sleep");
    ChildProcess child(sleep, {"30"}, work.path());

    const auto info = readOrFail(child.pid());
    EXPECT_EQ(info.parent, ::getpid());
    EXPECT_EQ(info.uid, ::getuid());
    const auto spawnedMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(child.spawnedAt().time_since_epoch()).count();
    EXPECT_NEAR(static_cast<double>(info.started), static_cast<double>(spawnedMicros), 20'000.0);
    EXPECT_STREQ(info.path, sleep.c_str());
    EXPECT_STREQ(info.name, "sleep");
    EXPECT_STREQ(info.cwd, std::filesystem::canonical(work.path()).c_str());
    EXPECT_EQ(info.hasMemory, 1);
    EXPECT_GT(info.footprint, 0U);
    // The start time is the identity: it must not move between reads.
    EXPECT_EQ(readOrFail(child.pid()).started, info.started);

    EXPECT_EQ(pl_signal(info.pid, info.started + 1, info.path, 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, "/usr/bin/sleep", 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, nullptr, 0), ESTALE);
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, -1), EINVAL) << "force is compared unsigned";
    EXPECT_TRUE(child.running());

    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), 0);
    ASSERT_TRUE(child.waitUntilZombie(5s));
    PLProcessInfo gone;
    EXPECT_EQ(pl_read(child.pid(), &gone), 0) << "a zombie has exited";
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), ESRCH);
    EXPECT_EQ(signalOf(child.wait()), SIGTERM);
    EXPECT_EQ(pl_read(child.pid(), &gone), 0) << "a reaped child is gone";
    EXPECT_EQ(pl_signal(info.pid, info.started, info.path, 0), ESRCH);

    ChildProcess second(sleep, {"30"}, work.path());
    const auto secondInfo = readOrFail(second.pid());
    EXPECT_EQ(pl_signal(secondInfo.pid, secondInfo.started, secondInfo.path, 1), 0);
    EXPECT_EQ(signalOf(second.waitFor(5s)), SIGKILL);
}

TEST(ProcessTable, ListsLiveProcessesAndRejectsBadInput)
{
    std::vector<std::int32_t> pids(32'768);
    const auto count = pl_list(pids.data(), static_cast<std::int32_t>(pids.size()));
    ASSERT_GT(count, 1);
    pids.resize(static_cast<std::size_t>(count));
    EXPECT_NE(std::find(pids.begin(), pids.end(), ::getpid()), pids.end());

    std::int32_t one[1];
    EXPECT_EQ(pl_list(one, 1), 1) << "a full buffer stops the listing";
    EXPECT_EQ(pl_list(nullptr, 10), 0);
    EXPECT_EQ(pl_list(one, 0), 0);
    EXPECT_EQ(pl_list(one, 536'870'912), 0);

    PLProcessInfo info;
    // kthreadd is pid 2 on every Linux system; it is a kernel thread, when visible.
    EXPECT_EQ(pl_read(2, &info), 0);
    EXPECT_EQ(pl_read(0, &info), 0);
    EXPECT_EQ(pl_read(::getpid(), nullptr), 0);
}

// The role is read from a real argument area: a copy of the idle helper named
// "node" whose last argument is the marker, with the area exactly at the
// limit and one byte over it. Single arguments are capped by the kernel at
// 128 KiB, so the area is built from several.
TEST(ProcessRead, RoleIsReadUpToTheArgumentAreaLimitAndOnlyForGatedNames)
{
    const auto bin = testing::tempDirUnderHome();
    const auto node = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "node");
    const auto roleOf = [&](const std::filesystem::path& program, std::size_t lastLength) {
        std::vector<std::string> arguments(10, std::string(100'000, 'x'));
        arguments.push_back(std::string(lastLength, 'y'));
        arguments.push_back("vitest");
        ChildProcess child(program, arguments, bin.path());
        return std::string(readOrFail(child.pid()).role);
    };
    // The area is the program path, every argument and their NULs.
    const auto fixed = node.string().size() + 1 + 10 * 100'001 + 7;
    EXPECT_EQ(roleOf(node, 1'048'576 - fixed - 1), "tests");
    EXPECT_EQ(roleOf(node, 1'048'576 - fixed), "");
    const auto javac = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "javac");
    EXPECT_EQ(roleOf(javac, 1), "") << "only node and java are scanned";
}

// A program run from a memory file has no file name worth showing: the
// record is named by the kernel's command name, the path keeps the memfd.
TEST(ProcessRead, MemoryFileProgramIsNamedByItsCommandName)
{
    const int memory = ::memfd_create("sealed-test", 0);
    ASSERT_GE(memory, 0);
    {
        std::ifstream program(testing::idleChildProgram(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(program)), std::istreambuf_iterator<char>());
        ASSERT_EQ(::write(memory, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        char* const arguments[] = {const_cast<char*>("idle"), nullptr};
        ::fexecve(memory, arguments, environ);
        ::_exit(127);
    }
    ::close(memory);
    ASSERT_GT(pid, 0);
    // Exec sets the command name after the executable: once the name is no
    // longer the one inherited from us, both are final.
    const auto commOf = [](const std::string& process) {
        std::string comm;
        std::getline(std::ifstream("/proc/" + process + "/comm"), comm);
        return comm;
    };
    const auto inherited = commOf("self");
    std::string comm;
    PLProcessInfo info{};
    for (int attempt = 0; attempt < 500; ++attempt) {
        comm = commOf(std::to_string(pid));
        if (comm != inherited && pl_read(pid, &info) == 1) break;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);

    EXPECT_TRUE(std::string_view(info.path).starts_with("/memfd:sealed-test")) << info.path;
    EXPECT_FALSE(comm.empty());
    EXPECT_EQ(std::string(info.name), comm);
}

}  // namespace
}  // namespace corvalent
