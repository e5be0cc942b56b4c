#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "core/process/process_disk_owner.h"
#include "core/process/processes.h"
#include "core/process/snapshot.h"
#include "test_support.h"

extern char** environ;

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
namespace fs = std::filesystem;

// User plus system time of a process in clock ticks, read straight from the kernel.
double cpuTicks(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3, utime 14 and stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index)
        if (index >= 14) ticks += std::stod(field);
    return ticks;
}

TEST(Scanner, CpuShareOfABusyAndAnIdleChild)
{
    const auto bin = testing::tempDirUnderHome();
    const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "worker");
    ChildProcess busy(program, {"--spin"}, bin.path());
    ChildProcess idle(program, {}, bin.path());
    const auto busyBefore = Scanner::read(busy.pid());
    const double ticksBefore = cpuTicks(busy.pid());
    const auto idleBefore = Scanner::read(idle.pid());
    const double start = uptimeSeconds();
    // Until the kernel has counted two seconds of the busy child's work, however
    // long a loaded machine takes to give it them.
    const double clockTicks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    ASSERT_TRUE(testing::eventually([&] { return cpuTicks(busy.pid()) - ticksBefore >= 2.0 * clockTicks; }, 120s));
    const auto busyAfter = Scanner::read(busy.pid());
    const double ticksAfter = cpuTicks(busy.pid());
    const auto idleAfter = Scanner::read(idle.pid());
    const double elapsed = uptimeSeconds() - start;
    ASSERT_TRUE(busyBefore && busyAfter && idleBefore && idleAfter);
    const auto busyShare = Scanner::cpu(*busyAfter, &*busyBefore, elapsed);
    const auto idleShare = Scanner::cpu(*idleAfter, &*idleBefore, elapsed);
    ASSERT_TRUE(busyShare && idleShare);
    // What the kernel itself counted for the busy child over the same time:
    // however loaded the machine, a figure off by a unit fails.
    const double kernelShare = (ticksAfter - ticksBefore) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / elapsed * 100.0;
    EXPECT_GT(*busyShare, 1.0);
    EXPECT_NEAR(*busyShare, kernelShare, 10.0);
    EXPECT_LT(*busyShare, 105.0);
    EXPECT_LT(*idleShare, 2.0);
}

TEST(Scanner, CpuShareNeedsTheSameInstanceAndTimeAndCodesMapStrictly)
{
    ProcessRecord before;
    before.pid = 7;
    before.started = 70;
    before.cpuTime = 1'000'000'000;
    auto after = before;
    after.cpuTime = 2'000'000'000;
    EXPECT_EQ(Scanner::cpu(after, &before, 2.0), 50.0);
    EXPECT_FALSE(Scanner::cpu(after, nullptr, 2.0));
    EXPECT_FALSE(Scanner::cpu(after, &before, 0.0));
    EXPECT_FALSE(Scanner::cpu(after, &before, std::nan("")));
    EXPECT_FALSE(Scanner::cpu(before, &after, 2.0)) << "CPU time went down";
    auto reused = after;
    reused.started = 71;
    EXPECT_FALSE(Scanner::cpu(reused, &before, 2.0)) << "another instance of the pid";

    auto future = before;
    future.started = 1ULL << 62;
    EXPECT_EQ(future.age(), 0.0);

    // An unexpected bridge code must never turn into a case, least of all `none`.
    EXPECT_EQ(processProtectionFromRaw(7), ProcessProtection::restrictedLocation);
    EXPECT_FALSE(processProtectionFromRaw(8));
    EXPECT_FALSE(processProtectionFromRaw(-1));
    EXPECT_EQ(memoryPressureFromLevel(1), MemoryPressure::normal);
    EXPECT_EQ(memoryPressureFromLevel(2), MemoryPressure::elevated);
    EXPECT_EQ(memoryPressureFromLevel(4), MemoryPressure::critical);
    for (const std::int32_t level : {0, 3, 8, -1})
        EXPECT_EQ(memoryPressureFromLevel(level), MemoryPressure::unavailable) << level;
}

TEST(Scanner, FootprintOfWrittenMemory)
{
    const auto bin = testing::tempDirUnderHome();
    ChildProcess child(testing::idleChildProgram(), {"--touch", "512"}, bin.path());
    constexpr std::uint64_t mib = 1ULL << 20;
    // The child writes its memory after it started: wait until it has.
    std::optional<ProcessRecord> record;
    testing::eventually(
        [&] {
            record = Scanner::read(child.pid());
            return record && record->memory >= 512 * mib;
        },
        10s);
    ASSERT_TRUE(record && record->memory);
    EXPECT_GE(*record->memory, 512 * mib);
    EXPECT_LT(*record->memory, 560 * mib);
}

TEST(Scanner, PathThatIsNotUtf8IsKeptAndStoppable)
{
    const auto bin = testing::tempDirUnderHome();
    const fs::path folder = bin.path() / "bad\xff\xfe name";
    fs::create_directory(folder);
    const auto program = testing::copyExecutable(testing::idleChildProgram(), folder, "tool");
    ChildProcess child(program, {}, bin.path());
    const auto record = Scanner::read(child.pid());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->path, program.string()) << "the kernel's bytes, unchanged";
    EXPECT_EQ(record->protection, ProcessProtection::none);
    EXPECT_EQ(Scanner::signal(*record, false), 0);
    const auto status = child.waitFor(5s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
}

const ProcessRecord* recordOf(const ScanResult& result, pid_t pid)
{
    const auto found = std::find_if(result.records.begin(), result.records.end(),
                                    [&](const ProcessRecord& r) { return r.pid == pid; });
    return found == result.records.end() ? nullptr : &*found;
}

const ProcessGroup* groupHolding(const std::vector<ProcessGroup>& groups, pid_t pid)
{
    for (const auto& group : groups)
        for (const auto& member : group.members)
            if (member.pid == pid) return &group;
    return nullptr;
}

// A later sample keeps what it read once for a process it knows but reads its
// working folder again, so a process that moved is grouped by its new
// project at once; a process it takes for another instance is read in full,
// one that is gone is left out, and the stop path reads everything for itself.
TEST(Scanner, LaterSampleKeepsWhatItKnewOfEachProcessAndReadsItsFolder)
{
    const auto home = testing::tempDirUnderHome();
    const auto project = home.path() / "projects" / "shop";
    const auto elsewhere = home.path() / "projects" / "other";
    fs::create_directories(project);
    fs::create_directories(elsewhere);
    const auto node = testing::copyExecutable(testing::idleChildProgram(), home.path(), "node");
    ChildProcess tests(node, {"--chdir-on-usr1", elsewhere.string(), "vitest"}, project);
    auto leaving = std::make_unique<ChildProcess>(node, std::vector<std::string>{}, project);
    ASSERT_TRUE(tests.waitUntilCatching(SIGUSR1, 5s));
    const pid_t leavingPid = leaving->pid();

    const auto first = Scanner::scan();
    const auto* before = recordOf(first, tests.pid());
    ASSERT_TRUE(before && recordOf(first, leavingPid));
    EXPECT_EQ(before->cwd, project.string());
    EXPECT_EQ(before->role, "tests");
    const auto firstSnapshot = ProcessSnapshot::make(first, nullptr);
    const auto* firstGroup = groupHolding(firstSnapshot.groups, tests.pid());
    ASSERT_TRUE(firstGroup);
    EXPECT_EQ(firstGroup->id, "tests \u00b7 shop");

    ASSERT_EQ(::kill(tests.pid(), SIGUSR1), 0);
    const auto cwdLink = "/proc/" + std::to_string(tests.pid()) + "/cwd";
    testing::eventually([&] { return fs::read_symlink(cwdLink) == elsewhere; });
    ASSERT_EQ(fs::read_symlink(cwdLink), elsewhere);
    leaving.reset();

    const auto later = Scanner::scan(&first);
    const auto* kept = recordOf(later, tests.pid());
    ASSERT_TRUE(kept);
    EXPECT_FALSE(recordOf(later, leavingPid)) << "a process that is gone";
    EXPECT_EQ(kept->id(), before->id());
    EXPECT_EQ(kept->cwd, elsewhere.string()) << "the folder it moved to";
    EXPECT_EQ(kept->path, node.string());
    EXPECT_EQ(kept->name, "node");
    EXPECT_EQ(kept->role, "tests");
    EXPECT_EQ(kept->protection, ProcessProtection::none);
    EXPECT_TRUE(kept->memory);
    EXPECT_GE(kept->cpuTime, before->cpuTime);
    EXPECT_EQ(Scanner::read(tests.pid()).value().cwd, elsewhere.string()) << "a single read reads everything";
    const auto laterSnapshot = ProcessSnapshot::make(later, &firstSnapshot);
    const auto* laterGroup = groupHolding(laterSnapshot.groups, tests.pid());
    ASSERT_TRUE(laterGroup);
    EXPECT_EQ(laterGroup->id, "tests \u00b7 other");
    EXPECT_EQ(laterGroup->subtitle, "Development tools \u00b7 other");

    // The same pid with another start time is another instance: read in full.
    auto doctored = first;
    for (auto& record : doctored.records)
        if (record.pid == tests.pid()) record.started += 1;
    const auto again = Scanner::scan(&doctored);
    const auto* fresh = recordOf(again, tests.pid());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->started, before->started);
    EXPECT_EQ(fresh->cwd, elsewhere.string());

    // A record of a later sample serves a stop as well as a fresh one.
    EXPECT_EQ(Scanner::signal(*kept, false), 0);
    const auto status = tests.waitFor(5s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
}

// The kernel names working folders where they really are. With the home
// reached through a link, as where /home is a link to /var/home, a program in
// a folder below the home works in a project there, as with a plain home, and
// one in the home itself works in none and claims no storage.
TEST(Scanner, WorkingFoldersInAHomeReachedThroughALink)
{
    const testing::TempDir var("/var/tmp");
    const testing::TempDir root;
    fs::create_directory_symlink(fs::canonical(var.path()), root.path() / "home");
    const auto home = fs::canonical(var.path()) / "ana";
    fs::create_directories(home / "shop");
    const testing::ScopedVariable named("HOME", (root.path() / "home" / "ana").string());
    const auto node = testing::copyExecutable(testing::idleChildProgram(), root.path(), "node");
    ChildProcess below(node, {"/x/node_modules/vitest/vitest.mjs", "run"}, home / "shop");
    ChildProcess inHome(node, {"/x/node_modules/vitest/vitest.mjs", "run"}, home);

    const auto sample = Scanner::scan();
    const auto* inHomeRecord = recordOf(sample, inHome.pid());
    ASSERT_TRUE(inHomeRecord);
    ASSERT_EQ(inHomeRecord->cwd, home.string());
    EXPECT_FALSE(Classifier::project(inHomeRecord->cwd, Paths::Home::current()));
    const auto groups = Classifier::groups(sample.records, false);
    const auto* project = groupHolding(groups, below.pid());
    const auto* none = groupHolding(groups, inHome.pid());
    ASSERT_TRUE(project && none);
    EXPECT_EQ(project->id, "tests \u00b7 shop");
    // Other tests' children may share these groups: only this test's folders are judged.
    const auto claims = [](const ProcessGroup& group, const fs::path& folder) {
        return std::ranges::count(diskProcessOwner(group).workingDirectories, folder.string()) > 0;
    };
    EXPECT_TRUE(claims(*project, home / "shop"));
    EXPECT_FALSE(claims(*none, home)) << "the home itself claims nothing";
    EXPECT_FALSE(claims(*project, home));
}

// Real children, read in a live sample and grouped as the workspace shows them.
// A table large enough to be read on several threads: every process once,
// in the order the kernel lists them, whatever reader took it.
TEST(Scanner, ALargeTableIsReadWholeAndInOrder)
{
    std::vector<pid_t> children;
    for (int i = 0; i < 700; ++i) {
        char sleep[] = "/bin/sleep";
        char seconds[] = "600";
        char* arguments[] = {sleep, seconds, nullptr};
        pid_t pid = 0;
        if (::posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, arguments, environ) == 0) children.push_back(pid);
    }
    struct Reap {
        std::vector<pid_t>& pids;
        ~Reap()
        {
            for (const auto pid : pids) ::kill(pid, SIGKILL);
            for (const auto pid : pids) ::waitpid(pid, nullptr, 0);
        }
    } reap{children};
    ASSERT_EQ(children.size(), 700U);
    // posix_spawn returns before the new program is laid out.
    for (const auto pid : children) testing::eventually([&] { return Scanner::read(pid).has_value(); });

    const auto first = Scanner::scan();
    const auto later = Scanner::scan(&first);
    for (const auto* sample : {&first, &later}) {
        // Other processes come and go meanwhile: the order is checked on the
        // children, which stay, against the order the kernel lists them in.
        const auto isChild = [&](std::int32_t pid) {
            return std::find(children.begin(), children.end(), pid) != children.end();
        };
        std::vector<std::int32_t> seen;
        for (const auto& record : sample->records)
            if (isChild(record.pid)) seen.push_back(record.pid);
        std::vector<std::int32_t> listed(32'768);
        listed.resize(static_cast<std::size_t>(pl_list(listed.data(), 32'768)));
        std::erase_if(listed, [&](std::int32_t pid) { return !isChild(pid); });
        EXPECT_EQ(seen, listed);
        for (const auto pid : children)
            EXPECT_EQ(std::count(seen.begin(), seen.end(), pid), 1) << pid;
    }
}

TEST(Scanner, LiveSampleReadsAndGroupsRealChildren)
{
    const auto home = testing::tempDirUnderHome();
    const auto project = home.path() / "projects" / "shop" / "web";
    fs::create_directories(project);
    const auto node = testing::copyExecutable(testing::idleChildProgram(), home.path(), "node");
    ChildProcess tests(node, {"/x/node_modules/vitest/vitest.mjs", "run"}, project);
    const auto tool = testing::copyExecutable(testing::idleChildProgram(), home.path(), "tool");
    ChildProcess first(tool, {}, home.path());
    ChildProcess second(tool, {}, home.path());
    // An application: a shell inside a bundle that starts a worker from elsewhere.
    const auto macos = home.path() / "Fake.app" / "Contents" / "MacOS";
    fs::create_directories(macos);
    const auto shell = testing::copyExecutable("/bin/sh", macos, "Fake");
    const auto worker = testing::copyExecutable(testing::idleChildProgram(), home.path(), "worker");
    ChildProcess app(shell, {"-c", worker.string() + " & wait"}, home.path());
    ScanResult result;
    pid_t workerPid = 0;
    testing::eventually([&] {
        result = Scanner::scan();
        for (const auto& record : result.records)
            if (record.parent == app.pid() && record.name == "worker") workerPid = record.pid;
        return workerPid != 0;
    });
    ASSERT_NE(workerPid, 0);

    const auto found = std::find_if(result.records.begin(), result.records.end(),
                                    [&](const ProcessRecord& r) { return r.pid == first.pid(); });
    ASSERT_NE(found, result.records.end());
    EXPECT_EQ(found->protection, ProcessProtection::none);
    EXPECT_FALSE(found->cpu) << "a single sample has no share";
    EXPECT_TRUE(result.pressure == MemoryPressure::normal || result.pressure == MemoryPressure::elevated ||
                result.pressure == MemoryPressure::critical);
    EXPECT_TRUE(result.swap.has_value());
    EXPECT_GT(result.duration, 0.0);
    EXPECT_EQ(Scanner::read(::getpid()).value().protection, ProcessProtection::corvalent);
    EXPECT_FALSE(Scanner::read(-1));

    const auto groups = Classifier::groups(result.records, false);
    const auto* testsGroup = groupHolding(groups, tests.pid());
    ASSERT_TRUE(testsGroup);
    EXPECT_EQ(testsGroup->id, "tests \u00b7 shop");
    const auto* toolGroup = groupHolding(groups, first.pid());
    ASSERT_TRUE(toolGroup);
    EXPECT_EQ(toolGroup, groupHolding(groups, second.pid())) << "two instances of one tool share a row";
    const auto* appGroup = groupHolding(groups, app.pid());
    ASSERT_TRUE(appGroup);
    EXPECT_EQ(appGroup, groupHolding(groups, workerPid));
    EXPECT_EQ(appGroup->appPath, (home.path() / "Fake.app").string());
    ::kill(workerPid, SIGKILL);
}

}  // namespace
}  // namespace corvalent
