#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/child_process.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

ChildRunRequest shell(const std::string& script)
{
    ChildRunRequest request;
    request.executable = "/bin/sh";
    request.arguments = {"-c", script};
    return request;
}

fs::path writeScript(const fs::path& folder, const std::string& name, const std::string& body)
{
    const auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

int readNumber(const fs::path& file)
{
    int number = 0;
    std::ifstream(file) >> number;
    return number;
}

// True when `pid` is no child of ours any more, not even a zombie.
bool reaped(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

std::set<std::string> openDescriptors()
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) names.insert(entry.path().filename());
    return names;
}

TEST(ChildProcess, CapturesOutputArgumentsAndExitStatus)
{
    ChildRunRequest echo;
    echo.executable = "/bin/echo";
    echo.arguments = {"a  b", "", "c"};
    const auto echoed = runChild(echo);
    EXPECT_TRUE(echoed.launched);
    EXPECT_EQ(echoed.output, "a  b  c\n");
    EXPECT_EQ(echoed.exitStatus, 0);
    EXPECT_FALSE(echoed.timedOut);
    EXPECT_FALSE(echoed.overflowed);

    const auto failed = runChild(shell("printf out; echo noise >&2; exit 3"));
    EXPECT_EQ(failed.output, "out") << "stderr is not part of the output";
    EXPECT_EQ(failed.exitStatus, 3);

    auto quiet = shell("echo hidden; exit 4");
    quiet.captureOutput = false;
    const auto silent = runChild(quiet);
    EXPECT_TRUE(silent.launched);
    EXPECT_EQ(silent.output, "");
    EXPECT_EQ(silent.exitStatus, 4);
}

TEST(ChildProcess, OutputCapKeepsTheFirstBytesAndEndsTheChild)
{
    auto exact = shell("head -c 1000 /dev/zero");
    exact.outputCap = 1000;
    const auto full = runChild(exact);
    EXPECT_EQ(full.output, std::string(1000, '\0'));
    EXPECT_FALSE(full.overflowed) << "exactly the cap is not more than the cap";
    EXPECT_EQ(full.exitStatus, 0);

    auto oneMore = shell("head -c 1001 /dev/zero");
    oneMore.outputCap = 1000;
    const auto over = runChild(oneMore);
    EXPECT_TRUE(over.overflowed);
    EXPECT_EQ(over.output.size(), 1000U);

    // Ignores SIGTERM and writes forever: only SIGKILL after the grace ends it,
    // long before the deadline would.
    auto endless = shell("trap '' TERM; exec yes");
    endless.outputCap = 4096;
    endless.deadline = milliseconds(10'000);
    endless.killGrace = milliseconds(200);
    const auto flooded = runChild(endless);
    EXPECT_TRUE(flooded.overflowed);
    EXPECT_FALSE(flooded.timedOut);
    EXPECT_EQ(flooded.exitStatus, std::nullopt);
    std::string expected;
    while (expected.size() < 4096) expected += "y\n";
    EXPECT_EQ(flooded.output, expected);
}

TEST(ChildProcess, DeadlineEndsAChildThatIgnoresTermAndADescendantHoldingThePipe)
{
    const testing::TempDir folder;
    const auto script = writeScript(folder.path(), "stubborn",
                                    "trap '' TERM\n"
                                    "sleep 30 &\n"
                                    "echo $! > \"$1/grandchild\"\n"
                                    "echo $$ > \"$1/child\"\n"
                                    "echo started\n"
                                    "exec sleep 30\n");
    ChildRunRequest request;
    request.executable = script;
    request.arguments = {folder.path().string()};

    const auto begin = std::chrono::steady_clock::now();
    const auto result = runChild(request);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    const int grandchild = readNumber(folder.path() / "grandchild");
    if (grandchild > 0) ::kill(grandchild, SIGKILL);

    EXPECT_LT(elapsed, milliseconds(2'500));
    EXPECT_TRUE(result.launched);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.overflowed);
    EXPECT_EQ(result.output, "started\n");
    EXPECT_EQ(result.exitStatus, std::nullopt);
    const int child = readNumber(folder.path() / "child");
    ASSERT_GT(child, 0);
    EXPECT_TRUE(reaped(child)) << "no zombie left behind";
    EXPECT_GT(grandchild, 0);
}

TEST(ChildProcess, AChildThatOutlivesKillDoesNotHoldTheCallerAndIsReapedOnceReleased)
{
    ChildRunRequest request;
    request.executable = testing::idleChildProgram();
    request.arguments = {"--traced"};
    request.deadline = milliseconds(300);
    request.killGrace = milliseconds(200);
    const auto begin = std::chrono::steady_clock::now();
    const auto result = runChild(request);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    pid_t child = 0;
    pid_t tracer = 0;
    std::istringstream(result.output) >> child >> tracer;
    if (tracer <= 0) GTEST_SKIP() << "tracing is not permitted here";
    const fs::path entry = "/proc/" + std::to_string(child);
    // The tracer holds the killed child for a minute unless it is ended first.
    EXPECT_TRUE(fs::exists(entry)) << "still unreaped when the run returned";
    ::kill(tracer, SIGKILL);

    EXPECT_LT(elapsed, std::chrono::seconds(5)) << "returned by its bound, not when the child let go";
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitStatus, std::nullopt);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fs::exists(entry) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_FALSE(fs::exists(entry)) << "reaped once released, with nobody asking";
}

TEST(ChildProcess, StopEndsTheRunBeforeItsDeadline)
{
    auto slow = shell("exec sleep 30");
    slow.deadline = std::chrono::seconds(20);
    std::stop_source source;
    slow.stop = source.get_token();
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(100));
        source.request_stop();
    });
    const auto begin = std::chrono::steady_clock::now();
    const auto result = runChild(slow);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.exitStatus);
}

TEST(ChildProcess, MissingOrNonExecutableProgramIsNotLaunched)
{
    const testing::TempDir folder;
    std::ofstream(folder.path() / "text") << "#!/bin/sh\necho hi\n";

    for (const std::string& executable : {std::string(), std::string("/nonexistent/program"),
                                          (folder.path() / "text").string(), folder.path().string()}) {
        ChildRunRequest request;
        request.executable = executable;
        const auto result = runChild(request);
        EXPECT_FALSE(result.launched) << executable;
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.exitStatus, std::nullopt);
    }
}

TEST(ChildProcess, LeavesNoDescriptorsOrChildrenBehind)
{
    const auto descriptorsBefore = openDescriptors();
    runChild(shell("echo fine"));
    ChildRunRequest missing;
    missing.executable = "/nonexistent/program";
    runChild(missing);
    auto flood = shell("exec yes");
    flood.outputCap = 10;
    runChild(flood);
    auto slow = shell("exec sleep 30");
    slow.deadline = milliseconds(50);
    runChild(slow);
    auto quiet = shell("true");
    quiet.captureOutput = false;
    runChild(quiet);

    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "no child left, running or not";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ChildProcess, ConcurrentRunsKeepTheirOwnOutput)
{
    constexpr int threads = 8;
    std::vector<std::vector<ChildRunResult>> results(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t, &results] {
            for (int r = 0; r < 6; ++r)
                results[t].push_back(runChild(shell("echo " + std::to_string(t) + "; exit " + std::to_string(r))));
        });
    for (auto& worker : workers) worker.join();

    for (int t = 0; t < threads; ++t)
        for (int r = 0; r < 6; ++r) {
            EXPECT_EQ(results[t][r].output, std::to_string(t) + "\n");
            EXPECT_EQ(results[t][r].exitStatus, r);
        }
}

}  // namespace
}  // namespace corvalent
