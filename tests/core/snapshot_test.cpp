#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "core/snapshot.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

ProcessRecord record(std::int32_t pid, std::uint64_t memory, std::uint64_t cpuTime = 0)
{
    ProcessRecord r;
    r.pid = pid;
    r.parent = 1;
    r.uid = ::getuid();
    r.started = 1'000 + static_cast<std::uint64_t>(pid);
    r.cpuTime = cpuTime;
    r.memory = memory;
    r.name = "tool";
    r.path = "/opt/x/tool";
    return r;
}

ScanResult sample(std::vector<ProcessRecord> records, double timestamp)
{
    ScanResult result;
    result.records = std::move(records);
    result.timestamp = timestamp;
    return result;
}

std::vector<std::int32_t> memberPids(const ProcessGroup& group)
{
    std::vector<std::int32_t> pids;
    for (const auto& member : group.members) pids.push_back(member.pid);
    return pids;
}

TEST(ProcessSnapshot, CpuSharesAndReuseOfTheGroups)
{
    const auto first = ProcessSnapshot::make(sample({record(10, 200), record(11, 100)}, 100.0), nullptr);
    ASSERT_EQ(first.groups.size(), 1U);
    EXPECT_EQ(memberPids(first.groups[0]), (std::vector<std::int32_t>{10, 11}));
    for (const auto& r : first.result.records) EXPECT_FALSE(r.cpu);
    EXPECT_EQ(first.userGroups.size(), first.groups.size());
    EXPECT_EQ(first.unprotectedUserGroups.size(), first.unprotectedGroups.size());
    EXPECT_GE(first.preparationMS, 0.0);

    // Nothing that decides grouping changed: the groups are refreshed, so the
    // member order of the first sample stays although 11 is now larger.
    auto unknown = record(10, 0, 1'500'000'000);
    unknown.memory.reset();
    const auto second =
        ProcessSnapshot::make(sample({unknown, record(11, 900, 1'500'000'000)}, 103.0), &first);
    ASSERT_EQ(second.groups.size(), 1U);
    EXPECT_EQ(memberPids(second.groups[0]), (std::vector<std::int32_t>{10, 11}));
    EXPECT_EQ(second.result.records[1].cpu, 50.0);
    EXPECT_FALSE(second.result.records[0].cpu) << "an unknown footprint keeps an absent share";
    EXPECT_TRUE(second.groups[0].incompleteMemory);

    // A changed working folder sends the sample through classification again.
    auto moved = record(10, 0);
    moved.cwd = "/Users/ana/notes";
    const auto third = ProcessSnapshot::make(sample({moved, record(11, 900)}, 106.0), &second);
    ASSERT_EQ(third.groups.size(), 1U);
    EXPECT_EQ(memberPids(third.groups[0]), (std::vector<std::int32_t>{11, 10}));

    // So does a new process.
    const auto fourth = ProcessSnapshot::make(sample({moved, record(11, 900), record(12, 5)}, 109.0), &third);
    EXPECT_EQ(fourth.groups[0].members.size(), 3U);
}

TEST(ProcessSnapshot, EligibleHoldsOnlyStoppableRecords)
{
    auto foreign = record(20, 50);
    foreign.uid = ::getuid() + 1;
    foreign.protection = ProcessProtection::otherUser;
    auto system = record(21, 50);
    system.protection = ProcessProtection::restrictedLocation;
    const auto snapshot = ProcessSnapshot::make(sample({foreign, system, record(22, 50)}, 1.0), nullptr);
    ASSERT_EQ(snapshot.eligible.size(), 1U);
    EXPECT_EQ(snapshot.eligible.begin()->second.pid, 22);
    EXPECT_EQ(snapshot.groups[0].members.size(), 3U);
    ASSERT_EQ(snapshot.userGroups.size(), 1U);
    EXPECT_EQ(snapshot.userGroups[0].members.size(), 2U);
    ASSERT_EQ(snapshot.unprotectedUserGroups.size(), 1U);
    EXPECT_EQ(snapshot.unprotectedUserGroups[0].members.size(), 1U);
}

TEST(ProcessSnapshot, RealChildMovingToAnotherProjectIsRegrouped)
{
    const auto home = testing::tempDirUnderHome();
    const auto alpha = home.path() / "projects" / "alpha";
    const auto beta = home.path() / "projects" / "beta";
    fs::create_directories(alpha);
    fs::create_directories(beta);
    const auto node = testing::copyExecutable(testing::idleChildProgram(), home.path(), "node");
    testing::ChildProcess child(node, {"--chdir-on-usr1", beta.string()}, alpha);

    const auto read = [&] {
        auto r = Scanner::read(child.pid());
        EXPECT_TRUE(r);
        return r.value_or(ProcessRecord{});
    };
    const auto first = ProcessSnapshot::make(sample({read()}, 1.0), nullptr);
    const auto unchanged = ProcessSnapshot::make(sample({read()}, 2.0), &first);
    ASSERT_EQ(unchanged.groups.size(), 1U);
    EXPECT_EQ(unchanged.groups[0].id, first.groups[0].id);
    EXPECT_EQ(first.groups[0].id, "process:" + node.string() + " \u00b7 alpha");

    ASSERT_TRUE(child.waitUntilCatching(SIGUSR1, 5s));
    ::kill(child.pid(), SIGUSR1);
    ProcessRecord moved;
    for (int attempt = 0; attempt < 500; ++attempt) {
        moved = read();
        if (moved.cwd == fs::canonical(beta).string()) break;
        std::this_thread::sleep_for(10ms);
    }
    const auto regrouped = ProcessSnapshot::make(sample({moved}, 3.0), &unchanged);
    ASSERT_EQ(regrouped.groups.size(), 1U);
    EXPECT_EQ(regrouped.groups[0].id, "process:" + node.string() + " \u00b7 beta");
}

}  // namespace
}  // namespace corvalent
