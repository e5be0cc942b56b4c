#include <gtest/gtest.h>
#include <limits>
#include <unistd.h>

#include "core/common/paths.h"
#include "core/process/processes.h"

namespace corvalent {
namespace {

ProcessRecord record(std::int32_t pid, std::int32_t parent, std::string name, std::string path, std::string cwd = "",
                     std::string role = "", std::optional<std::uint64_t> memory = 0)
{
    return {pid,           parent,          ::getuid(),      1'000'000ULL * static_cast<std::uint64_t>(pid),
            0,             memory,          std::move(name), std::move(path),
            std::move(cwd), std::move(role), std::nullopt,    ProcessProtection::none, {}};
}

const ProcessGroup& groupOf(const std::vector<ProcessGroup>& groups, std::int32_t pid)
{
    for (const auto& group : groups)
        for (const auto& member : group.members)
            if (member.pid == pid) return group;
    throw std::runtime_error("no group holds pid " + std::to_string(pid));
}

TEST(Classifier, ApplicationPathAndProject)
{
    EXPECT_EQ(Classifier::appPath("/A/Outer.app/Contents/Inner.app/Contents/MacOS/x"), "/A/Outer.app");
    EXPECT_FALSE(Classifier::appPath("/usr/bin/apple"));

    const auto home = Paths::Home::current();
    const auto project = [&home](std::string_view cwd) { return Classifier::project(cwd, home); };
    EXPECT_EQ(project("/Users/ana/projects/shop/web"), "shop");
    EXPECT_EQ(project("/Users/ana/Developer/"), "Developer") << "a marker with nothing after it";
    EXPECT_EQ(project("/Users/ana/repos//api/src"), "api");
    EXPECT_EQ(project("/Users/ana/notes/"), "notes");
    for (const std::string& none : {std::string("/"), std::string("/Users/ana/Library/Caches"),
                                   std::string("/Users/ana/.config/x"), std::string("/var/lib/x"),
                                   std::string("/home/"), home.named(), home.named() + "/"})
        EXPECT_FALSE(project(none)) << none;
    // Below the home only what follows the home counts, wherever the home lies.
    const Paths::Home inVar("/var/home/ana");
    EXPECT_EQ(Classifier::project("/var/home/ana/shop", inVar), "shop");
    for (const char* none : {"/var/home/ana/.cache/x", "/var/home/ana", "/var/home", "/var/lib/x"})
        EXPECT_FALSE(Classifier::project(none, inVar)) << none;
}

TEST(Classifier, FirstMatchingRuleDecidesTheGroup)
{
    const std::string dot = " \u00b7 ";
    const std::string api = "/Users/ana/repos/api";
    const std::vector<ProcessRecord> records{
        record(10, 1, "qemu-system-aarch64", "/opt/sdk/qemu-system-aarch64", "/Users/ana/projects/app", "gradle"),
        record(11, 1, "java", "/usr/lib/jvm/bin/java", "/Users/ana/projects/app", "gradle"),
        record(12, 1, "lldb-rpc-server", "/opt/codex/lldb-rpc-server"),
        record(13, 1, "Code Helper (Plugin)", "/Applications/Code.app/Contents/Code Helper (Plugin)"),
        record(14, 1, "node", "/opt/codex/node", api, "automation"),
        record(15, 1, "codex", "/opt/codex/codex", api, "typescript"),
        record(16, 1, "node", "/opt/x/node", api, "typescript"),
        record(17, 1, "node", "/opt/x/node", api),
        record(18, 1, "python3.11", "/usr/local/bin/python3.11", api),
        record(19, 1, "rg", "/usr/local/bin/rg", api),
    };
    const auto groups = Classifier::groups(records, true);
    const std::vector<std::pair<std::int32_t, std::string>> expected{
        {10, "android" + dot + "app"},       {11, "android-build"},
        {12, "debugger"},                     {13, "vscode-extensions"},
        {14, "automation" + dot + "api"},     {15, "agent" + dot + "api"},
        {16, "typescript" + dot + "api"},     {17, "process:/opt/x/node" + dot + "api"},
        {18, "process:/usr/local/bin/python3.11" + dot + "api"}, {19, "process:/usr/local/bin/rg"},
    };
    for (const auto& [pid, id] : expected) EXPECT_EQ(groupOf(groups, pid).id, id) << pid;
    EXPECT_FALSE(groupOf(groups, 13).appPath) << "a rule wins over the application";
    EXPECT_EQ(groupOf(groups, 17).title, "Node.js workers");
    EXPECT_EQ(groupOf(groups, 18).title, "python3.11 workers");
}

TEST(Classifier, ApplicationsGatherTheirHelpersThroughTheParentChain)
{
    const std::vector<ProcessRecord> records{
        record(100, 1, "Fake", "/Applications/Fake.app/Contents/MacOS/Fake"),
        record(101, 100, "helper", "/Users/ana/bin/helper"),
        record(102, 101, "node", "/opt/x/node", "/Users/ana/repos/api", "tests"),
        record(103, 1, "OrbStack", "/Applications/OrbStack.app/Contents/MacOS/OrbStack"),
        record(104, 1, "Corvalent", "/Applications/Corvalent.app/Contents/MacOS/Corvalent"),
    };
    const auto groups = Classifier::groups(records, true);
    const auto& app = groupOf(groups, 100);
    EXPECT_EQ(app.appPath, "/Applications/Fake.app");
    EXPECT_EQ(app.impact, "Quits Fake; unsaved work or ongoing tasks may be interrupted.");
    EXPECT_EQ(groupOf(groups, 101).id, app.id) << "a helper joins through its parent";
    EXPECT_EQ(groupOf(groups, 102).id, "tests \u00b7 api") << "a role rule wins over the application";
    EXPECT_EQ(groupOf(groups, 103).impact, "Stops OrbStack processes, including local containers and databases.");
    EXPECT_EQ(groupOf(groups, 104).id, "app:Corvalent");
}

TEST(Classifier, ParentChainsAreBoundedAndCycleSafe)
{
    // launchd_sim at pid 200, then twelve descendants.
    std::vector<ProcessRecord> records{record(200, 1, "launchd_sim", "/Library/Developer/CoreSimulator/x/launchd_sim"),
                                       record(300, 301, "a", "/Applications/Loop.app/Contents/MacOS/a"),
                                       record(301, 300, "b", "/opt/x/b"),
                                       record(302, 1, "worker", ""),
                                       record(303, 1, "worker", ""),
                                       record(304, 1, "other", "")};
    for (std::int32_t pid = 201; pid <= 212; ++pid)
        records.push_back(record(pid, pid - 1, "svc", "/Library/Developer/CoreSimulator/Volumes/RuntimeRoot/svc"));
    const auto groups = Classifier::groups(records, true);
    EXPECT_EQ(groupOf(groups, 211).id, "ios:200") << "eleven levels up";
    EXPECT_EQ(groupOf(groups, 212).id, "ios:0") << "twelve levels up is out of reach";
    EXPECT_EQ(groupOf(groups, 301).id, "app:/Applications/Loop.app") << "the cycle is walked once";
    EXPECT_EQ(groupOf(groups, 302).members.size(), 2U) << "unknown paths of one name share a row";
    EXPECT_EQ(groupOf(groups, 304).id, "process-name:other") << "and other names never join it";
}

TEST(GroupSets, TotalsOrdersAndSearchText)
{
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    auto protectedTool = record(403, 1, "tool", "/opt/x/tool", "", "", 5);
    protectedTool.protection = ProcessProtection::otherUser;
    auto a = record(401, 1, "tool", "/opt/x/tool", "", "", std::nullopt);
    a.cpu = 2.5;
    const std::vector<ProcessRecord> records{
        a,
        record(402, 1, "tool", "/opt/x/tool", "", "", 0),
        protectedTool,
        record(404, 1, "huge", "/opt/x/huge", "", "", max - 1),
        record(405, 1, "huge", "/opt/x/huge", "", "", 7),
        record(406, 1, "b", "/opt/x/b", "", "", 5),
    };
    const auto groups = Classifier::groups(records, true);
    ASSERT_EQ(groups.size(), 3U);
    EXPECT_EQ(groups[0].id, "process:/opt/x/huge");
    EXPECT_EQ(groups[0].memory, max) << "totals saturate";
    EXPECT_EQ(groups[1].id, "process:/opt/x/b") << "equal memory sorts by id";
    const auto& tool = groups[2];
    EXPECT_EQ(tool.memory, 5U);
    EXPECT_TRUE(tool.incompleteMemory);
    EXPECT_EQ(tool.cpu, 2.5);
    ASSERT_EQ(tool.members.size(), 3U);
    EXPECT_EQ(tool.members[0].pid, 403);
    EXPECT_EQ(tool.members[1].pid, 401) << "an unknown footprint sorts as zero, then by pid";
    EXPECT_EQ(tool.members[2].pid, 402);
    EXPECT_EQ(tool.stoppable.size(), 2U);
    EXPECT_EQ(tool.stoppableIDs.count(protectedTool.id()), 0U);
    EXPECT_EQ(tool.searchText, "tool Background process tool tool tool");

    const auto visible = Classifier::groupsHidingProtected(groups);
    const auto& shrunk = groupOf(visible, 401);
    EXPECT_EQ(shrunk.members.size(), 2U);
    EXPECT_EQ(shrunk.memory, 0U) << "totals cover only the stoppable members";

    auto onlyProtected = records;
    for (auto& r : onlyProtected) r.protection = ProcessProtection::restrictedLocation;
    EXPECT_TRUE(Classifier::groupsHidingProtected(Classifier::groups(onlyProtected, true)).empty());
}

// Whole-sample refreshes go through ProcessSnapshot; here what only a partial one reaches.
TEST(GroupSets, OwnUserFilterAndRefreshDroppingTheGone)
{
    auto other = record(501, 1, "svc", "/opt/x/svc", "", "", 50);
    other.uid = ::getuid() + 1;
    const std::vector<ProcessRecord> records{record(502, 1, "tool", "/opt/x/tool", "", "", 10),
                                             record(503, 1, "tool", "/opt/x/tool", "", "", 20), other};
    EXPECT_EQ(Classifier::groups(records, false).size(), 1U);

    auto grown = records[1];
    grown.memory = 999;
    const auto refreshed = Classifier::refreshedGroups(Classifier::groups(records, true), {{grown.key(), &grown}});
    ASSERT_EQ(refreshed.size(), 1U) << "a group without members left goes";
    ASSERT_EQ(refreshed[0].members.size(), 1U);
    EXPECT_EQ(refreshed[0].memory, 999U);
}

}  // namespace
}  // namespace corvalent
