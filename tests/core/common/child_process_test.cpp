#include <gtest/gtest.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "core/common/child_process.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

ChildRunRequest shell(const std::string& script)
{
    ChildRunRequest request;
    request.executable = "/bin/sh";
    request.arguments = {"-c", script};
    return request;
}

std::set<std::string> openDescriptors()
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) names.insert(entry.path().filename());
    return names;
}

// Every run, however it ends, leaves no descriptor open and no child behind,
// running or a zombie.
class ChildProcess : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
        int status = 0;
        EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "a child was left behind";
        EXPECT_EQ(errno, ECHILD);
    }
    const std::set<std::string> descriptorsBefore = openDescriptors();
};

TEST_F(ChildProcess, CapturesOutputArgumentsAndExitStatus)
{
    ChildRunRequest echo;
    echo.executable = "/bin/echo";
    echo.arguments = {"a  b", "", "c"};
    const auto echoed = runChild(echo);
    EXPECT_TRUE(echoed.launched);
    EXPECT_EQ(echoed.output, "a  b  c\n");
    EXPECT_EQ(echoed.exitStatus, 0);

    const auto failed = runChild(shell("printf out; echo noise >&2; exit 3"));
    EXPECT_EQ(failed.output, "out") << "stderr is not part of the output";
    EXPECT_EQ(failed.exitStatus, 3);

    auto quiet = shell("echo hidden; exit 4");
    quiet.captureOutput = false;
    const auto silent = runChild(quiet);
    EXPECT_EQ(silent.output, "");
    EXPECT_EQ(silent.exitStatus, 4);
}

TEST_F(ChildProcess, OutputCapKeepsTheFirstBytesAndEndsTheChild)
{
    auto exact = shell("head -c 1000 /dev/zero");
    exact.outputCap = 1000;
    const auto full = runChild(exact);
    EXPECT_EQ(full.output, std::string(1000, '\0'));
    EXPECT_FALSE(full.overflowed) << "exactly the cap is not more than the cap";

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
    EXPECT_EQ(flooded.output.size(), 4096U);
    EXPECT_EQ(flooded.output.find_first_not_of("y\n"), std::string::npos);
}

// The bounds below are far under the 20-60 s the children would take on their own.
TEST_F(ChildProcess, DeadlineEndsAChildThatIgnoresTermAndADescendantHoldingThePipe)
{
    const testing::TempDir folder;
    ChildRunRequest request;
    request.executable = testing::writeScript(
        folder.path(), "stubborn", "trap '' TERM\nsleep 30 &\necho $! > \"$1/grandchild\"\necho started\nexec sleep 30\n");
    request.arguments = {folder.path().string()};

    const auto begin = Clock::now();
    const auto result = runChild(request);
    const auto elapsed = Clock::now() - begin;
    int grandchild = 0;
    std::ifstream(folder.path() / "grandchild") >> grandchild;
    if (grandchild > 0) ::kill(grandchild, SIGKILL);

    EXPECT_LT(elapsed, seconds(15));
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.output, "started\n");
    EXPECT_EQ(result.exitStatus, std::nullopt);
    EXPECT_GT(grandchild, 0);
}

TEST_F(ChildProcess, AChildThatOutlivesKillDoesNotHoldTheCallerAndIsReapedOnceReleased)
{
    ChildRunRequest request;
    request.executable = testing::idleChildProgram();
    request.arguments = {"--traced"};
    request.deadline = milliseconds(300);
    request.killGrace = milliseconds(200);
    const auto begin = Clock::now();
    const auto result = runChild(request);
    const auto elapsed = Clock::now() - begin;
    pid_t child = 0;
    pid_t tracer = 0;
    std::istringstream(result.output) >> child >> tracer;
    if (tracer <= 0) GTEST_SKIP() << "tracing is not permitted here";
    const fs::path entry = "/proc/" + std::to_string(child);
    // The tracer holds the killed child for a minute unless it is ended first.
    EXPECT_TRUE(fs::exists(entry)) << "still unreaped when the run returned";
    ::kill(tracer, SIGKILL);

    EXPECT_LT(elapsed, seconds(15)) << "returned by its bound, not when the child let go";
    EXPECT_TRUE(result.timedOut);
    EXPECT_TRUE(testing::eventually([&] { return !fs::exists(entry); }, seconds(20)))
        << "reaped once released, with nobody asking";
}

TEST_F(ChildProcess, StopEndsTheRunBeforeItsDeadline)
{
    const testing::TempDir folder;
    const auto started = folder.path() / "started";
    // The child marks that it runs, so the stop comes while the run is under way.
    auto slow = shell("touch '" + started.string() + "'; exec sleep 30");
    slow.deadline = seconds(20);
    std::stop_source source;
    slow.stop = source.get_token();
    std::thread stopper([&] {
        EXPECT_TRUE(testing::eventually([&] { return fs::exists(started); }, seconds(10)));
        source.request_stop();
    });
    const auto begin = Clock::now();
    const auto result = runChild(slow);
    stopper.join();
    EXPECT_LT(Clock::now() - begin, seconds(15));
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.timedOut);
}

TEST_F(ChildProcess, MissingOrNonExecutableProgramIsNotLaunched)
{
    const testing::TempDir folder;
    std::ofstream(folder.path() / "text") << "#!/bin/sh\necho hi\n";
    for (const std::string& executable :
         {std::string(), std::string("/nonexistent/program"), (folder.path() / "text").string()}) {
        ChildRunRequest request;
        request.executable = executable;
        const auto result = runChild(request);
        EXPECT_FALSE(result.launched) << executable;
        EXPECT_EQ(result.output, "");
    }
}

TEST_F(ChildProcess, ConcurrentRunsKeepTheirOwnOutput)
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
