#include <algorithm>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "bridge/proc_text.h"
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
    testing::eventually([&] {
        comm = commOf(std::to_string(pid));
        return comm != inherited && pl_read(pid, &info) == 1;
    });
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);

    EXPECT_TRUE(std::string_view(info.path).starts_with("/memfd:sealed-test")) << info.path;
    EXPECT_FALSE(comm.empty());
    EXPECT_EQ(std::string(info.name), comm);
}

// What a sampler passes for a process it read before.
PLKnownProcess knownFrom(const PLProcessInfo& info)
{
    return {info.started, info.image, info.uid};
}

std::string linkOf(pid_t pid, const char* name)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/" + name, error).string();
}

uid_t ownerOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

proc_text::StatusFields statusOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return proc_text::parseStatus(text);
}

// A sample reads name, path and role once per program a process runs: for a
// known instance it skips them but reads the working folder, and anything
// that tells of another instance, program or owner brings a full read.
TEST(ProcessSample, KnownProcessKeepsItsTextsUntilItRunsAnotherProgram)
{
    const auto bin = testing::tempDirUnderHome();
    const testing::TempDir work;
    const auto node = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "node");
    const auto worker = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "worker");
    ChildProcess child(node, {"--exec-on-usr1", worker.string(), "vitest"}, work.path());
    ASSERT_TRUE(child.waitUntilCatching(SIGUSR1, 5s));

    PLProcessInfo first;
    ASSERT_EQ(pl_read_sample(child.pid(), nullptr, 0, &first), 1);
    const auto reference = readOrFail(child.pid());
    for (const auto* info : {&std::as_const(first), &reference}) {
        EXPECT_EQ(info->uid, ::getuid());
        EXPECT_EQ(info->parent, ::getpid());
        EXPECT_STREQ(info->path, node.c_str());
        EXPECT_STREQ(info->name, "node");
        EXPECT_STREQ(info->cwd, std::filesystem::canonical(work.path()).c_str());
        EXPECT_STREQ(info->role, "tests");
        EXPECT_EQ(info->hasMemory, 1);
    }
    EXPECT_EQ(first.started, reference.started);
    EXPECT_NE(first.image, 0U);
    EXPECT_EQ(first.image, reference.image);

    const auto known = knownFrom(first);
    PLProcessInfo later;
    EXPECT_EQ(pl_read_sample(child.pid(), &known, 0, &later), 2);
    EXPECT_STREQ(later.path, "");
    EXPECT_STREQ(later.name, "");
    EXPECT_STREQ(later.cwd, first.cwd) << "the working folder is read at every sample";
    EXPECT_STREQ(later.role, "");
    EXPECT_EQ(later.pid, child.pid());
    EXPECT_EQ(later.parent, ::getpid());
    EXPECT_EQ(later.uid, ::getuid());
    EXPECT_EQ(later.started, first.started);
    EXPECT_EQ(later.image, first.image);
    EXPECT_EQ(later.hasMemory, 1);
    EXPECT_GT(later.footprint, 0U);

    // Another instance at the pid, another owner, an image never read.
    auto laterInstance = known, earlierInstance = known, otherOwner = known, noImage = known;
    laterInstance.started += 1;
    earlierInstance.started -= 1;
    otherOwner.uid += 1;
    noImage.image = 0;
    for (const auto& other : {laterInstance, earlierInstance, otherOwner, noImage}) {
        PLProcessInfo full;
        EXPECT_EQ(pl_read_sample(child.pid(), &other, 0, &full), 1);
        EXPECT_STREQ(full.path, node.c_str());
        EXPECT_STREQ(full.cwd, first.cwd);
        EXPECT_STREQ(full.role, "tests");
    }

    // The same instance runs another program: same pid and start time, new texts.
    ASSERT_EQ(::kill(child.pid(), SIGUSR1), 0);
    ASSERT_TRUE(testing::eventually([&] { return linkOf(child.pid(), "exe") == worker.string(); }));
    PLProcessInfo changed;
    ASSERT_EQ(pl_read_sample(child.pid(), &known, 0, &changed), 1);
    EXPECT_EQ(changed.started, first.started);
    EXPECT_STREQ(changed.path, worker.c_str());
    EXPECT_STREQ(changed.name, "worker");
    EXPECT_STREQ(changed.role, "");
}

// A process that is not dumpable (setuid programs, processes that changed
// their user) has root's files under /proc/PID, but its folder still belongs
// to its effective user. Run by root, the child takes another user first, so
// that reading root where there is none would show.
TEST(ProcessSample, ProcessThatIsNotDumpableReadsAsItsOwnUser)
{
    const bool root = ::getuid() == 0;
    const uid_t user = root ? 65534 : ::getuid();
    const testing::TempDir work;
    ChildProcess child(testing::idleChildProgram(),
                       root ? std::vector<std::string>{"--undumpable", std::to_string(user)}
                            : std::vector<std::string>{"--undumpable"},
                       work.path());
    const auto folder = "/proc/" + std::to_string(child.pid());
    ASSERT_TRUE(testing::eventually([&] { return ownerOf(folder) == user && ownerOf(folder + "/stat") == 0; }))
        << "the child's files should have turned root's";

    PLProcessInfo first;
    ASSERT_EQ(pl_read_sample(child.pid(), nullptr, 0, &first), 1);
    EXPECT_EQ(first.uid, user);
    const auto known = knownFrom(first);
    PLProcessInfo later;
    EXPECT_EQ(pl_read_sample(child.pid(), &known, 0, &later), 2);
    EXPECT_EQ(later.uid, user);
    EXPECT_EQ(readOrFail(child.pid()).uid, user);
    // Its working folder is not ours to read: another user's, or one kept
    // from us by the process itself.
    EXPECT_STREQ(first.cwd, "");
    EXPECT_STREQ(later.cwd, "");
}

// While no swap is in use the footprint comes from statm; it must be the
// anonymous resident memory status reports. With swap in use, status.
// Memory may change under load (the child's last pages, a page reclaimed):
// each sample is compared with status read just before and just after it,
// at a moment when those two agree.
TEST(ProcessSample, FootprintFromStatmIsTheAnonymousResidentMemoryOfStatus)
{
    const testing::TempDir work;
    ChildProcess child(testing::idleChildProgram(), {"--touch", "64"}, work.path());
    constexpr std::uint64_t mib = 1ULL << 20;
    ASSERT_TRUE(testing::eventually([&] { return statusOf(child.pid()).rssAnonKiB.value_or(0) * 1024 >= 64 * mib; }));
    const auto page = static_cast<double>(::sysconf(_SC_PAGESIZE));

    // The footprint a sample read, and what status says of the same moment.
    struct Moment {
        PLProcessInfo info{};
        int answer = 0;
        double anonymous = 0;
        double swapped = 0;
    };
    const auto sampleAtOneMoment = [&](const PLKnownProcess* known, std::int32_t flags) {
        Moment moment;
        const bool steady = testing::eventually([&] {
            const auto before = statusOf(child.pid());
            moment.answer = pl_read_sample(child.pid(), known, flags, &moment.info);
            const auto after = statusOf(child.pid());
            if (!before.rssAnonKiB || before.rssAnonKiB != after.rssAnonKiB || before.vmSwapKiB != after.vmSwapKiB)
                return false;
            moment.anonymous = static_cast<double>(*before.rssAnonKiB * 1024);
            moment.swapped = static_cast<double>(before.vmSwapKiB.value_or(0) * 1024);
            return true;
        });
        EXPECT_TRUE(steady) << "the child's memory never held still";
        return moment;
    };

    const auto first = sampleAtOneMoment(nullptr, 0);
    ASSERT_EQ(first.answer, 1);
    ASSERT_EQ(first.info.hasMemory, 1);
    EXPECT_NEAR(static_cast<double>(first.info.footprint), first.anonymous, 2 * page);
    const auto known = knownFrom(first.info);
    const auto later = sampleAtOneMoment(&known, 0);
    ASSERT_EQ(later.answer, 2);
    EXPECT_NEAR(static_cast<double>(later.info.footprint), later.anonymous, 2 * page);

    for (const auto* knownOrNot : {static_cast<const PLKnownProcess*>(nullptr), &known}) {
        const auto swapped = sampleAtOneMoment(knownOrNot, PL_SAMPLE_SWAP_IN_USE);
        ASSERT_NE(swapped.answer, 0);
        EXPECT_EQ(swapped.info.hasMemory, 1);
        EXPECT_NEAR(static_cast<double>(swapped.info.footprint), swapped.anonymous + swapped.swapped, 2 * page);
    }
}

TEST(ProcessSample, ZombiesKernelThreadsAndVanishedProcessesReadAsGone)
{
    const testing::TempDir work;
    ChildProcess child(testing::idleChildProgram(), {}, work.path());
    PLProcessInfo info;
    ASSERT_EQ(pl_read_sample(child.pid(), nullptr, 0, &info), 1);
    const auto known = knownFrom(info);

    // kthreadd is pid 2 on every Linux system; it is a kernel thread, when visible.
    const PLKnownProcess kernelThread{known.started, known.image, 0};
    EXPECT_EQ(pl_read_sample(2, nullptr, 0, &info), 0);
    EXPECT_EQ(pl_read_sample(2, &kernelThread, 0, &info), 0);
    EXPECT_EQ(pl_read_sample(0, nullptr, 0, &info), 0);
    EXPECT_EQ(pl_read_sample(-5, &known, 0, &info), 0);
    EXPECT_EQ(pl_read_sample(child.pid(), &known, 0, nullptr), 0);

    ASSERT_EQ(::kill(child.pid(), SIGKILL), 0);
    ASSERT_TRUE(child.waitUntilZombie(5s));
    EXPECT_EQ(pl_read_sample(child.pid(), nullptr, 0, &info), 0) << "a zombie has exited";
    EXPECT_EQ(pl_read_sample(child.pid(), &known, 0, &info), 0) << "a zombie has exited";
    child.wait();
    EXPECT_EQ(pl_read_sample(child.pid(), nullptr, 0, &info), 0) << "a reaped child is gone";
    EXPECT_EQ(pl_read_sample(child.pid(), &known, PL_SAMPLE_SWAP_IN_USE, &info), 0) << "a reaped child is gone";
}

}  // namespace
}  // namespace corvalent
