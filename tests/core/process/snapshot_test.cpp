#include <gtest/gtest.h>
#include <unistd.h>

#include "core/process/snapshot.h"

namespace corvalent {
namespace {

ProcessRecord record(std::int32_t pid, std::uint64_t memory, std::uint64_t cpuTime = 0)
{
    return {pid, 1, ::getuid(), 1'000 + static_cast<std::uint64_t>(pid), cpuTime, memory, "tool", "/opt/x/tool", "", "",
            std::nullopt, ProcessProtection::none, {}};
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

}  // namespace
}  // namespace corvalent
