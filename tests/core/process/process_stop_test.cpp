// The plan of a stop against real child processes: one typed outcome per
// requested process, signals only to the processes that were requested.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>

#include "core/process/process_stop.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

ProcessRecord readRecord(const ChildProcess& child)
{
    auto record = Scanner::read(child.pid());
    EXPECT_TRUE(record);
    return record.value_or(ProcessRecord{});
}

// Ends with `signal`, reaped.
void expectEndedBy(ChildProcess& child, int signal)
{
    const auto status = child.waitFor(5s);
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), signal);
}

const ProcessStop::QuitRequest noQuitRequest = [](const RunningApplication&) {
    ADD_FAILURE() << "no application was asked to quit";
    return false;
};

TEST(ProcessStop, GoneReplacedProtectedAndRunningProcesses)
{
    const auto home = testing::tempDirUnderHome();
    const testing::TempDir outside;  // no approved place: what runs there is protected
    const auto worker = testing::copyExecutable(testing::idleChildProgram(), home.path(), "worker");
    ChildProcess running(worker, {}, home.path());
    ChildProcess replaced(worker, {}, home.path());
    ChildProcess guarded(testing::copyExecutable(testing::idleChildProgram(), outside.path(), "guarded"), {},
                         outside.path());
    ProcessRecord gone;
    {
        ChildProcess ended(worker, {}, home.path());
        gone = readRecord(ended);
    }
    auto reused = readRecord(replaced);
    reused.started -= 1'000'000;  // the same pid, an earlier process

    const auto runningRecord = readRecord(running), guardedRecord = readRecord(guarded);
    ASSERT_TRUE(guardedRecord.isProtected());
    for (const bool force : {false, true}) {
        const auto outcomes =
            ProcessStop::stop({gone, reused, guardedRecord}, force, {}, {}, ApplicationIndex{}, noQuitRequest);
        EXPECT_EQ(outcomes, (std::vector<ProcessStopOutcome>{
                                {gone.id(), ProcessStopResult::alreadyGone, ""},
                                {reused.id(), ProcessStopResult::alreadyGone, ""},
                                {guardedRecord.id(), ProcessStopResult::failed, "guarded: protected"},
                            }));
    }
    EXPECT_TRUE(replaced.running()) << "a pid that names another process now is never signalled";
    EXPECT_TRUE(guarded.running());

    EXPECT_EQ(ProcessStop::stop({runningRecord}, true, {}, {}, ApplicationIndex{}, noQuitRequest),
              (std::vector<ProcessStopOutcome>{{runningRecord.id(), ProcessStopResult::signalled, ""}}));
    expectEndedBy(running, SIGKILL);
}

// An application whose main process and helper are both selected gets one
// quit request, for the first of its records; the helper gets no signal.
TEST(ProcessStop, AWholeApplicationQuitsOnceAndADeclinedQuitIsNamedOnce)
{
    const auto home = testing::tempDirUnderHome();
    const auto bundle = home.path() / "Tool.app";
    std::filesystem::create_directory(bundle);
    ChildProcess main(testing::copyExecutable(testing::idleChildProgram(), bundle, "tool"), {}, home.path());
    ChildProcess helper(testing::copyExecutable(testing::idleChildProgram(), bundle, "helper"), {}, home.path());
    const auto mainRecord = readRecord(main), helperRecord = readRecord(helper);
    ProcessGroup group;
    group.appPath = bundle.string();
    group.stoppableIDs = {mainRecord.id(), helperRecord.id()};
    const std::vector<RunningApplication> applications{{bundle.string(), main.pid(), "", mainRecord}};

    int quitRequests = 0;
    const auto declined = ProcessStop::stop({mainRecord, helperRecord}, false, applications, {group}, {},
                                            [&](const RunningApplication&) { return ++quitRequests, false; });
    EXPECT_EQ(quitRequests, 1);
    EXPECT_EQ(declined, (std::vector<ProcessStopOutcome>{
                            {mainRecord.id(), ProcessStopResult::failed, "tool: quit request declined"},
                            {helperRecord.id(), ProcessStopResult::failed, ""},
                        }))
        << "without the application's name, the record's";
    EXPECT_TRUE(main.running());
    EXPECT_TRUE(helper.running());

    const auto quit = ProcessStop::stop({mainRecord, helperRecord}, false, applications, {group}, {},
                                        ProcessStop::requestQuit);
    EXPECT_EQ(quit, (std::vector<ProcessStopOutcome>{
                        {mainRecord.id(), ProcessStopResult::quitRequested, ""},
                        {helperRecord.id(), ProcessStopResult::quitRequested, ""},
                    }));
    expectEndedBy(main, SIGTERM);
    EXPECT_TRUE(helper.running()) << "the quit request goes to the main process only";
    EXPECT_TRUE(ProcessStop::requestQuit(applications.front())) << "a main process already gone has quit";

    // Not the whole application: the helper alone is signalled.
    EXPECT_EQ(ProcessStop::stop({helperRecord}, false, applications, {group}, {}, noQuitRequest),
              (std::vector<ProcessStopOutcome>{{helperRecord.id(), ProcessStopResult::signalled, ""}}));
    expectEndedBy(helper, SIGTERM);
}

}  // namespace
}  // namespace corvalent
