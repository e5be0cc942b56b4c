#include <gtest/gtest.h>
#include <limits>
#include <unistd.h>

#include "bridge/process_bridge.h"
#include "core/processes.h"

namespace corvalent {
namespace {

ProcessRecord record(std::int32_t pid, std::int32_t parent, std::string name, std::string path, std::string cwd = "",
                     std::string role = "", std::optional<std::uint64_t> memory = 0)
{
    ProcessRecord r;
    r.pid = pid;
    r.parent = parent;
    r.uid = ::getuid();
    r.started = 1'000'000ULL * static_cast<std::uint64_t>(pid);
    r.memory = memory;
    r.name = std::move(name);
    r.path = std::move(path);
    r.cwd = std::move(cwd);
    r.role = std::move(role);
    return r;
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
    EXPECT_EQ(Classifier::appPath("/Applications/Mail.app/Contents/MacOS/Mail"), "/Applications/Mail.app");
    EXPECT_EQ(Classifier::appPath("/A/Outer.app/Contents/Inner.app/Contents/MacOS/x"), "/A/Outer.app");
    EXPECT_FALSE(Classifier::appPath("/usr/bin/apple"));

    EXPECT_EQ(Classifier::project("/Users/ana/projects/shop/web"), "shop");
    EXPECT_EQ(Classifier::project("/Users/ana/Developer/"), "Developer");
    EXPECT_EQ(Classifier::project("/Users/ana/repos//api/src"), "api");
    EXPECT_EQ(Classifier::project("/Users/ana/notes"), "notes");
    EXPECT_EQ(Classifier::project("/Users/ana/notes/"), "notes");
    for (const char* none : {"", "/", "/Users/ana/Library/Caches", "/Applications/X", "/Users/ana/.config/x",
                             "/private/tmp/x", "/var/lib/x", "/home", "/home/"})
        EXPECT_FALSE(Classifier::project(none)) << none;
}

TEST(Classifier, HomeFolderIsNoProject)
{
    const std::string home = pl_account_home();
    ASSERT_FALSE(home.empty());
    EXPECT_FALSE(Classifier::project(home));
    EXPECT_FALSE(Classifier::project(home + "/"));
    EXPECT_EQ(Classifier::project(home + "/notes"), "notes");
}

TEST(Classifier, RulesDecideIdTitleAndSymbol)
{
    const std::string dot = " \u00b7 ";
    const std::vector<ProcessRecord> records{
        record(10, 1, "qemu-system-aarch64", "/opt/sdk/qemu-system-aarch64", "/Users/ana/projects/app"),
        record(11, 1, "java", "/usr/lib/jvm/bin/java", "/Users/ana/projects/app", "gradle"),
        record(12, 1, "lldb-rpc-server", "/opt/x/lldb-rpc-server"),
        record(13, 1, "Code Helper (Plugin)", "/Applications/Code.app/Contents/Code Helper (Plugin)"),
        record(14, 1, "node", "/opt/x/node", "/Users/ana/repos/api", "automation"),
        record(15, 1, "codex", "/opt/codex/codex", "/Users/ana/repos/api"),
        record(16, 1, "node", "/opt/x/node", "/Users/ana/repos/api", "typescript"),
        record(17, 1, "node", "/opt/x/node", "/Users/ana/repos/api"),
        record(18, 1, "python3.11", "/usr/local/bin/python3.11", "/Users/ana/repos/api"),
        record(19, 1, "rg", "/usr/local/bin/rg", "/Users/ana/repos/api"),
    };
    const auto groups = Classifier::groups(records, true);
    const auto expect = [&](std::int32_t pid, const std::string& id, const std::string& title,
                            const std::string& symbol) {
        const auto& group = groupOf(groups, pid);
        EXPECT_EQ(group.id, id) << pid;
        EXPECT_EQ(group.title, title) << pid;
        EXPECT_EQ(group.symbol, symbol) << pid;
        EXPECT_FALSE(group.appPath) << pid;
    };
    expect(10, "android" + dot + "app", "Android emulator", "iphone");
    expect(11, "android-build", "Android build services", "hammer");
    expect(12, "debugger", "LLDB debugger", "ladybug");
    expect(13, "vscode-extensions", "VS Code extensions", "puzzlepiece.extension");
    expect(14, "automation" + dot + "api", "Browser automation", "cursorarrow.motionlines");
    expect(15, "agent" + dot + "api", "Coding agent", "chevron.left.forwardslash.chevron.right");
    expect(16, "typescript" + dot + "api", "TypeScript service", "hammer");
    expect(17, "process:/opt/x/node" + dot + "api", "Node.js workers", "terminal");
    expect(18, "process:/usr/local/bin/python3.11" + dot + "api", "python3.11 workers", "terminal");
    expect(19, "process:/usr/local/bin/rg", "rg", "terminal");
    EXPECT_EQ(groupOf(groups, 19).subtitle, "Background process");
    EXPECT_EQ(groupOf(groups, 17).subtitle, "Scripts and development tools" + dot + "api");
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
    EXPECT_EQ(app.id, "app:/Applications/Fake.app");
    EXPECT_EQ(app.title, "Fake");
    EXPECT_EQ(app.appPath, "/Applications/Fake.app");
    EXPECT_EQ(app.impact, "Quits Fake; unsaved work or ongoing tasks may be interrupted.");
    EXPECT_EQ(groupOf(groups, 101).id, app.id) << "a helper joins through its parent";
    EXPECT_EQ(groupOf(groups, 102).id, "tests \u00b7 api") << "a role rule wins over the application";
    EXPECT_EQ(groupOf(groups, 103).impact, "Stops OrbStack processes, including local containers and databases.");
    EXPECT_EQ(groupOf(groups, 104).id, "app:Corvalent");
}

TEST(Classifier, SimulatorRootIsFoundUpToElevenLevelsUp)
{
    // A chain of twelve: launchd_sim at pid 200, then eleven descendants.
    std::vector<ProcessRecord> records{record(200, 1, "launchd_sim", "/Library/Developer/CoreSimulator/x/launchd_sim")};
    for (std::int32_t pid = 201; pid <= 212; ++pid)
        records.push_back(record(pid, pid - 1, "svc", "/Library/Developer/CoreSimulator/Volumes/RuntimeRoot/svc"));
    const auto groups = Classifier::groups(records, true);
    EXPECT_EQ(groupOf(groups, 211).id, "ios:200") << "eleven levels up";
    EXPECT_EQ(groupOf(groups, 211).subtitle, "Virtual iOS device \u00b7 session 200");
    EXPECT_EQ(groupOf(groups, 212).id, "ios:0") << "twelve levels up is out of reach";
    EXPECT_EQ(groupOf(groups, 212).title, "Detached iOS simulator services");
}

TEST(Classifier, ParentCyclesAndUnknownPaths)
{
    const std::vector<ProcessRecord> records{
        record(300, 301, "a", "/Applications/Loop.app/Contents/MacOS/a"),
        record(301, 300, "b", "/opt/x/b"),
        record(302, 1, "worker", ""),
        record(303, 1, "worker", ""),
        record(304, 1, "other", ""),
    };
    const auto groups = Classifier::groups(records, true);
    EXPECT_EQ(groupOf(groups, 301).id, "app:/Applications/Loop.app") << "the cycle is walked once";
    EXPECT_EQ(groupOf(groups, 302).id, "process-name:worker");
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

TEST(GroupSets, UserSetAndRefresh)
{
    auto other = record(501, 1, "svc", "/opt/x/svc", "", "", 50);
    other.uid = ::getuid() + 1;
    const std::vector<ProcessRecord> mine{record(502, 1, "tool", "/opt/x/tool", "", "", 10),
                                          record(503, 1, "tool", "/opt/x/tool", "", "", 20)};
    const auto onlyMine = Classifier::groupSets(mine);
    ASSERT_EQ(onlyMine.all.size(), 1U);
    EXPECT_EQ(onlyMine.user.size(), 1U);

    auto withOther = mine;
    withOther.push_back(other);
    const auto sets = Classifier::groupSets(withOther);
    EXPECT_EQ(sets.all.size(), 2U);
    ASSERT_EQ(sets.user.size(), 1U);
    EXPECT_EQ(sets.user[0].id, "process:/opt/x/tool");
    EXPECT_EQ(Classifier::groups(withOther, false).size(), 1U);

    // Refresh keeps the member order of the previous sample and drops the gone.
    auto grown = mine[0];
    grown.memory = 999;
    const Classifier::RecordsByKey fresh{{grown.key(), &grown}, {mine[1].key(), &mine[1]}};
    const auto refreshed = Classifier::refreshedGroups(sets.all, fresh);
    ASSERT_EQ(refreshed.size(), 1U) << "the other user's group has no members left";
    ASSERT_EQ(refreshed[0].members.size(), 2U);
    EXPECT_EQ(refreshed[0].members[0].pid, 503);
    EXPECT_EQ(refreshed[0].memory, 1019U);
}

}  // namespace
}  // namespace corvalent
