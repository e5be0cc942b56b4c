#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "core/process/impact_assessment.h"

namespace corvalent {
namespace {

struct Member {
    std::int32_t pid;
    std::string name;
    std::int32_t parent = 0;  // no record of the tests has pid 0
    std::string cwd = "", role = "";
    ProcessProtection protection = ProcessProtection::none;
};

ProcessRecord record(const Member& m)
{
    const auto started = 1'700'000'000'000'000ULL + static_cast<std::uint64_t>(m.pid);
    return {m.pid, m.parent, 1000, started, 0, 1 << 20, m.name, "", m.cwd, m.role, std::nullopt, m.protection, {}};
}

ProcessGroup group(const std::string& id, const std::string& title, const std::vector<Member>& members,
                   std::optional<std::string> appPath = std::nullopt)
{
    ProcessGroup result;
    result.id = id;
    result.title = title;
    result.impact = "Own impact of " + title + ".";
    result.appPath = std::move(appPath);
    for (const Member& member : members) result.members.push_back(record(member));
    result.preparePresentation(false);  // keeps the member order given here
    return result;
}

std::unordered_set<std::string> ids(const std::vector<std::int32_t>& pids)
{
    std::unordered_set<std::string> result;
    for (std::int32_t pid : pids) result.insert(record({pid, "x"}).id());
    return result;
}

using Lines = std::vector<std::string>;
// The facts of the only entry.
Lines facts(const std::vector<ProcessGroup>& groups, const std::vector<std::int32_t>& selected)
{
    const auto entries = ImpactAssessment::make(groups, ids(selected), 12).groups;
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? Lines{} : entries.front().facts;
}

const std::string deviceNote = "A virtual device, build, or test may be interrupted.";
const std::string debuggerNote = "An active debugging session may end.";
const std::string agentNote = "An active coding session may end.";

TEST(ImpactAssessment, OnlySelectedStoppableMembersCount)
{
    const std::vector<ProcessGroup> groups{
        group("debugger", "Debugger",
              {{30, "lldb"}, {10, "lldb"}, {15, "root", 0, "", "", ProcessProtection::otherUser}, {20, "lldb"},
               {25, "x"}}),
        group("android", "Emulator", {{40, "qemu", 0, "", "", ProcessProtection::criticalService}}),
    };
    // Nothing selected, unknown or stale ids, or only protected members: no count, entry or note.
    for (const auto& selected : std::vector<std::unordered_set<std::string>>{{}, {"99:1", "10:0", "x"}, ids({15, 40})})
        EXPECT_EQ(ImpactAssessment::make(groups, selected, 12), ImpactAssessment{});
    // Pids in the group's stoppable order; the impact of a group that is no app is its own.
    EXPECT_EQ(ImpactAssessment::make(groups, ids({10, 15, 20, 30, 40}), 12),
              (ImpactAssessment{3, 1, {{"debugger", "Debugger", "Own impact of Debugger.", false, 3, 4, false,
                                        {30, 10, 20}, {"Selected processes: lldb."}}}, 0, {debuggerNote}}));
}

TEST(ImpactAssessment, LimitBoundsEntriesButNotCountsOrNotes)
{
    std::vector<ProcessGroup> groups;
    std::vector<std::int32_t> selected;
    for (std::int32_t i = 0, pid = 100; i < 12; ++i, pid += 10) {
        groups.push_back(group("tool-" + std::to_string(i), "Tool", {{pid, "a"}, {pid + 1, "b"}, {pid + 2, "c"}}));
        selected.push_back(pid);
        if (i % 2 == 0) selected.push_back(pid + 2);
    }
    groups.push_back(group("debugger", "Debugger", {{900, "gdb"}}));  // both past the limit, both with notes
    groups.push_back(group("agent-code", "Agent", {{910, "agent"}, {911, "agent"}}));
    selected.insert(selected.end(), {900, 910, 911});
    for (const int limit : {12, 0, -3, 100}) {
        const ImpactAssessment assessment = ImpactAssessment::make(groups, ids(selected), limit);
        const std::size_t shown = std::clamp(limit, 0, 14);
        EXPECT_EQ(assessment.selectedCount, 18 + 1 + 2);
        EXPECT_EQ(assessment.groupCount, 14);
        ASSERT_EQ(assessment.groups.size(), shown);
        EXPECT_EQ(assessment.omittedGroupCount, 14 - static_cast<int>(shown));
        EXPECT_EQ(assessment.highImpactNotes, (Lines{debuggerNote, agentNote}));
        for (std::size_t i = 0; i < std::min<std::size_t>(shown, 12); ++i)
            EXPECT_EQ(std::pair(assessment.groups[i].id, assessment.groups[i].selectedCount),
                      std::pair("tool-" + std::to_string(i), i % 2 == 0 ? 2 : 1));
    }
}

TEST(ImpactAssessment, NameProjectRoleAndChildFacts)
{
    // Distinct names in code-point order (upper case and ASCII before accented letters), four at most; composed and
    // decomposed spellings are one name; ill-formed bytes are kept as given. An unselected member is never named.
    const std::vector<std::pair<Lines, std::string>> names{
        {{"d", "b", "c", "a"}, "a, b, c, d"},
        {{"d", "b", "c", "a", "e"}, "a, b, c, d, and others"}, {{"caf\xC3\xA9", "cafe\xCC\x81"}, "caf\xC3\xA9"},
        {{"\xC3\xA9tude", "Zed", "apple"}, "Zed, apple, \xC3\xA9tude"}, {{"bad\xFF\xC3", "bad"}, "bad, bad\xFF\xC3"}};
    for (const auto& [given, listed] : names) {
        std::vector<Member> members{{99, "unselected"}};
        for (const auto& name : given) members.push_back({static_cast<std::int32_t>(members.size()), name});
        EXPECT_EQ(facts({group("g", "G", members)}, {1, 2, 3, 4, 5}), Lines{"Selected processes: " + listed + "."});
    }
    // Projects and roles: distinct, sorted, three at most.
    const std::vector<ProcessGroup> work{group(
        "g", "G",
        {{1, "node", 1, "/home/ana/projects/web/src", "vite"}, {2, "node", 1, "/home/ana/projects/api", "typescript"},
         {3, "java", 1, "/home/ana/repos/app", "gradle"}, {4, "java", 1, "/home/ana/Developer/app", "gradle"},
         {5, "tsc", 1, "/home/ana/notes", "eslint"}, {6, "sh", 1, "/", ""}})};
    EXPECT_EQ(facts(work, {1, 2, 3, 4, 5, 6}), (Lines{"Selected processes: java, node, sh, tsc.",
                                                      "Working in: api, app, notes.",
                                                      "Detected roles: eslint, gradle, typescript."}));
    EXPECT_EQ(facts(work, {6}), Lines{"Selected processes: sh."}) << "no project, no role";
    // Unselected direct children; the protected child sits in another group and still counts for its parent.
    const std::vector<ProcessGroup> family{
        group("server", "Server", {{10, "server"}, {11, "worker", 10}, {12, "worker", 10}, {13, "grandchild", 11}}),
        group("other", "Other", {{20, "guard", 10, "", "", ProcessProtection::otherUser}, {21, "tool", 30}}),
    };
    EXPECT_EQ(facts(family, {10, 11, 12, 13}),
              (Lines{"Selected processes: grandchild, server, worker.",
                     "1 direct child process is not selected; it may keep running but lose the parent service."}))
        << "selected children do not count; the protected one does";
    EXPECT_EQ(facts(family, {10, 11}),
              (Lines{"Selected processes: server, worker.",
                     "3 direct child processes are not selected; they may keep running but lose the parent service."}))
        << "12 and 20 under 10 and 13 under 11 add up";
}

TEST(ImpactAssessment, ApplicationGroupsAndHighImpactNotes)
{
    const std::vector<ProcessGroup> apps{
        group("app:mail", "Mail", {{10, "mail"}, {11, "helper", 10}}, "/opt/Mail.app"),
        group("app:docker", "Docker Desktop", {{20, "docker"}}, "/opt/Docker Desktop.app"),
    };
    EXPECT_EQ(ImpactAssessment::make(apps, ids({10, 11}), 12),
              (ImpactAssessment{2, 1, {{"app:mail", "Mail",
                                        "Stopping Mail may close its windows and interrupt its tasks; Corvalent tries "
                                        "a normal app quit when its main process is available.",
                                        true, 2, 2, true, {10, 11}, {"Selected processes: helper, mail."}}}, 0, {}}))
        << "a whole app gets no note";
    EXPECT_EQ(ImpactAssessment::make(apps, ids({11}), 12).groups,
              (std::vector<SelectedImpactGroup>{
                  {"app:mail", "Mail",
                   "Stops only the selected Mail processes. The app may remain open or restart a helper.", true, 1, 2,
                   false, {11}, {"Selected processes: helper.",
                   "Individual processes receive termination signals without an app-level save prompt."}}}));
    EXPECT_EQ(ImpactAssessment::make(apps, ids({20}), 12).groups.at(0).impact,
              "Stopping Docker Desktop can interrupt local containers and databases; Corvalent tries a normal app "
              "quit when its main process is available.");
    // Notes are distinct, in first-seen order. Near misses give none, and the first matching rule wins:
    // a container runtime before agents, a device before a partly selected app.
    const std::vector<ProcessGroup> groups{
        group("plain", "Plain", {{5, "x"}}),           group("ios", "I", {{3, "sim"}}),
        group("debugger2", "D", {{4, "gdb"}}),         group("agent:pod", "podman", {{20, "podman"}}),
        group("android-studio", "Studio", {{1, "studio"}, {2, "helper"}}, "/opt/Studio.app"),
        group("app:mail", "Mail", {{50, "mail"}, {51, "helper"}}, "/a"),
        group("android", "Emulator", {{10, "qemu"}}),  group("android-build", "Gradle", {{30, "java"}}),
        group("ios:77", "Simulator", {{40, "sim"}}),   group("debugger", "Debugger", {{60, "gdb"}}),
        group("agent-cli", "Agent", {{70, "agent"}}),
        group("app:notes", "Notes", {{80, "notes"}, {81, "helper"}}, "/opt/Notes.app"),
    };
    EXPECT_EQ(ImpactAssessment::make(groups, ids({5, 3, 4, 20, 2, 51, 10, 30, 40, 60, 70, 81}), 12).highImpactNotes,
              (Lines{"Local containers or databases may be interrupted.", deviceNote,
                     "Selected app helpers may exit without an app-level save prompt.", debuggerNote, agentNote}));
}

}  // namespace
}  // namespace corvalent
