#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::TempDir;

PLProcessInfo readOrFail(pid_t pid)
{
    PLProcessInfo info;
    EXPECT_EQ(pl_read(pid, &info), 1);
    return info;
}

TEST(ProcessRead, LiveChildIsReadInFull)
{
    const auto bin = testing::tempDirUnderHome();
    const TempDir work;
    const auto sleep = testing::copyExecutable("/bin/sleep", bin.path(), "sleep");
    ChildProcess child(sleep, {"30"}, work.path());

    const auto info = readOrFail(child.pid());
    EXPECT_EQ(info.pid, child.pid());
    EXPECT_EQ(info.parent, ::getpid());
    EXPECT_EQ(info.uid, ::getuid());
    const auto spawnedMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(child.spawnedAt().time_since_epoch()).count();
    EXPECT_NEAR(static_cast<double>(info.started), static_cast<double>(spawnedMicros), 20'000.0);
    EXPECT_STREQ(info.path, sleep.c_str());
    EXPECT_STREQ(info.name, "sleep");
    EXPECT_STREQ(info.cwd, std::filesystem::canonical(work.path()).c_str());
    EXPECT_STREQ(info.role, "");
    EXPECT_EQ(info.hasMemory, 1);
    EXPECT_GT(info.footprint, 0U);

    // The start time is the identity: it must not move between reads.
    EXPECT_EQ(readOrFail(child.pid()).started, info.started);
}

TEST(ProcessRead, OwnProcessAndCpuTime)
{
    // Burn a little CPU so the figure has something to show.
    volatile std::uint64_t sink = 0;
    for (std::uint64_t i = 0; i < 50'000'000; ++i) sink = sink + i;
    const auto info = readOrFail(::getpid());
    EXPECT_GT(info.cpuTime, 10'000'000U);  // ns: at least 10 ms
    EXPECT_STREQ(info.path, std::filesystem::read_symlink("/proc/self/exe").c_str());
}

TEST(ProcessRead, InvalidPidsLeaveTheRecordAlone)
{
    PLProcessInfo info;
    std::memset(&info, 0xAB, sizeof info);
    PLProcessInfo before = info;
    EXPECT_EQ(pl_read(0, &info), 0);
    EXPECT_EQ(pl_read(-5, &info), 0);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    EXPECT_EQ(pl_read(::getpid(), nullptr), 0);
}

TEST(ProcessRead, ExitedAndKernelProcessesReadAsGone)
{
    const TempDir work;
    ChildProcess child("/bin/true", {}, work.path());
    ASSERT_TRUE(child.waitUntilZombie(5s));
    PLProcessInfo info;
    EXPECT_EQ(pl_read(child.pid(), &info), 0) << "a zombie has exited";
    child.wait();
    EXPECT_EQ(pl_read(child.pid(), &info), 0) << "a reaped child is gone";
    // kthreadd is pid 2 on every Linux system; it is a kernel thread, when visible.
    EXPECT_EQ(pl_read(2, &info), 0);
}

TEST(ProcessList, ListsLiveProcessesAndRejectsBadBuffers)
{
    const TempDir work;
    ChildProcess child(testing::idleChildProgram(), {}, work.path());
    std::vector<std::int32_t> pids(32'768);
    const auto count = pl_list(pids.data(), static_cast<std::int32_t>(pids.size()));
    ASSERT_GT(count, 1);
    pids.resize(static_cast<std::size_t>(count));
    EXPECT_NE(std::find(pids.begin(), pids.end(), ::getpid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), child.pid()), pids.end());

    std::int32_t one[1];
    EXPECT_EQ(pl_list(one, 1), 1);
    EXPECT_EQ(pl_list(nullptr, 10), 0);
    EXPECT_EQ(pl_list(one, 0), 0);
    EXPECT_EQ(pl_list(one, -1), 0);
    EXPECT_EQ(pl_list(one, 536'870'912), 0);
}

// Processes are started from a copy of the idle helper under a chosen name,
// so that the name gate and the argument markers are exercised for real.
std::string roleOf(const std::string& name, const std::vector<std::string>& arguments)
{
    const auto bin = testing::tempDirUnderHome();
    const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), name);
    ChildProcess child(program, arguments, bin.path());
    return readOrFail(child.pid()).role;
}

TEST(ProcessRead, RoleComesFromTheArgumentsOfNodeAndJava)
{
    EXPECT_EQ(roleOf("node", {"--max-old-space-size=4096", "/x/next/dist/server/next-server.js"}), "nextjs");
    EXPECT_EQ(roleOf("node", {"org.gradle.launcher.daemon.bootstrap.GradleDaemon vitest"}), "gradle");
    EXPECT_EQ(roleOf("node", {"/x/typescript/lib/tsserver.js", "/x/vitest/vitest.mjs"}), "tests");
    EXPECT_EQ(roleOf("nodemon", {"trusted-worker.js"}), "automation");
    EXPECT_EQ(roleOf("java", {"KotlinCompileDaemon"}), "kotlin");
    EXPECT_EQ(roleOf("javac", {"GradleDaemon"}), "") << "only node and java are scanned";
    EXPECT_EQ(roleOf("node", {"server.js"}), "");
}

TEST(ProcessRead, RoleIsReadUpToTheArgumentAreaLimit)
{
    // Single arguments are capped by the kernel at 128 KiB, so the area is
    // built from several; the role marker is the last argument.
    const auto bin = testing::tempDirUnderHome();
    const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "node");
    const auto areaWith = [&](std::size_t fillers, std::size_t lastLength) {
        std::vector<std::string> arguments(fillers, std::string(100'000, 'x'));
        arguments.push_back(std::string(lastLength, 'y'));
        arguments.push_back("vitest");
        return arguments;
    };
    // The area is the program path, every argument and their NULs.
    const auto fixed = program.string().size() + 1 + 10 * 100'001 + 7;
    const auto exactly = areaWith(10, 1'048'576 - fixed - 1);
    {
        ChildProcess child(program, exactly, bin.path());
        EXPECT_STREQ(readOrFail(child.pid()).role, "tests");
    }
    const auto over = areaWith(10, 1'048'576 - fixed);
    {
        ChildProcess child(program, over, bin.path());
        EXPECT_STREQ(readOrFail(child.pid()).role, "");
    }
}

}  // namespace
}  // namespace corvalent
