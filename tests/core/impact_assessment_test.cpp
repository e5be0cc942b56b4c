#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "core/impact_assessment.h"

namespace corvalent {
namespace {

struct Member {
    std::int32_t pid;
    std::string name;
    std::int32_t parent = 0;  // no record of the tests has pid 0
    std::string cwd = "";
    std::string role = "";
    ProcessProtection protection = ProcessProtection::none;
};

ProcessRecord record(const Member& member)
{
    ProcessRecord result;
    result.pid = member.pid;
    result.parent = member.parent;
    result.uid = 1000;
    result.started = 1'700'000'000'000'000ULL + static_cast<std::uint64_t>(member.pid);
    result.memory = 1 << 20;
    result.name = member.name;
    result.cwd = member.cwd;
    result.role = member.role;
    result.protection = member.protection;
    return result;
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

std::string idOf(std::int32_t pid)
{
    return record({pid, "x"}).id();
}

std::unordered_set<std::string> ids(const std::vector<std::int32_t>& pids)
{
    std::unordered_set<std::string> result;
    for (std::int32_t pid : pids) result.insert(idOf(pid));
    return result;
}

// The facts of the only entry.
std::vector<std::string> facts(const std::vector<ProcessGroup>& groups, const std::vector<std::int32_t>& selected)
{
    const ImpactAssessment assessment = ImpactAssessment::make(groups, ids(selected), 12);
    if (assessment.groups.size() != 1) {
        ADD_FAILURE() << "expected one entry, got " << assessment.groups.size();
        return {};
    }
    return assessment.groups.front().facts;
}

const std::string helperNote = "Selected app helpers may exit without an app-level save prompt.";
const std::string deviceNote = "A virtual device, build, or test may be interrupted.";
const std::string debuggerNote = "An active debugging session may end.";
const std::string agentNote = "An active coding session may end.";
const std::string orbStackNote = "Local containers or databases may be interrupted.";

TEST(ImpactAssessment, SelectionsThatMatchNoStoppableMemberGiveNothing)
{
    const ImpactAssessment empty;
    EXPECT_EQ(ImpactAssessment::make({}, ids({1, 2}), 12), empty);

    const std::vector<ProcessGroup> groups{
        group("debugger", "Debugger",
              {{30, "lldb"},
               {10, "lldb"},
               {15, "root", 0, "", "", ProcessProtection::otherUser},
               {20, "lldb"},
               {25, "x"}}),
        group("android", "Emulator", {{40, "qemu", 0, "", "", ProcessProtection::criticalService}}),
    };
    EXPECT_EQ(ImpactAssessment::make(groups, {}, 12), empty);
    EXPECT_EQ(ImpactAssessment::make(groups, {"99:1", "10:0", "garbage"}, 12), empty);
    // Only protected members are selected: the groups add no count, entry or note.
    EXPECT_EQ(ImpactAssessment::make(groups, ids({15, 40}), 12), empty);

    const ImpactAssessment mixed = ImpactAssessment::make(groups, ids({10, 15, 20, 30, 40}), 12);
    EXPECT_EQ(mixed.selectedCount, 3);
    EXPECT_EQ(mixed.groupCount, 1);
    ASSERT_EQ(mixed.groups.size(), 1u);
    EXPECT_EQ(mixed.groups[0].id, "debugger");
    EXPECT_EQ(mixed.groups[0].selectedPIDs, (std::vector<std::int32_t>{30, 10, 20})) << "stoppable order";
    EXPECT_EQ(mixed.groups[0].selectedCount, 3);
    EXPECT_EQ(mixed.groups[0].availableCount, 4);
    EXPECT_FALSE(mixed.groups[0].isCompleteSelection);
    EXPECT_EQ(mixed.highImpactNotes, std::vector<std::string>{debuggerNote});
}

TEST(ImpactAssessment, LimitBoundsEntriesButNotCountsOrNotes)
{
    std::vector<ProcessGroup> groups;
    std::vector<std::int32_t> selected;
    for (int i = 0; i < 12; ++i) {
        const std::int32_t pid = 100 + 10 * i;
        groups.push_back(group("tool-" + std::to_string(i), "Tool " + std::to_string(i),
                               {{pid, "a"}, {pid + 1, "b"}, {pid + 2, "c"}}));
        selected.push_back(pid);
        if (i % 2 == 0) selected.push_back(pid + 2);
    }
    // Both groups past the limit carry notes.
    groups.push_back(group("debugger", "Debugger", {{900, "gdb"}}));
    groups.push_back(group("agent-code", "Agent", {{910, "agent"}, {911, "agent"}}));
    selected.insert(selected.end(), {900, 910, 911});

    const ImpactAssessment limited = ImpactAssessment::make(groups, ids(selected), 12);
    EXPECT_EQ(limited.selectedCount, 18 + 1 + 2);
    EXPECT_EQ(limited.groupCount, 14);
    ASSERT_EQ(limited.groups.size(), 12u);
    EXPECT_EQ(limited.omittedGroupCount, 2);
    EXPECT_EQ(limited.highImpactNotes, (std::vector<std::string>{debuggerNote, agentNote}));
    for (int i = 0; i < 12; ++i) {
        const SelectedImpactGroup& entry = limited.groups[static_cast<std::size_t>(i)];
        EXPECT_EQ(entry.id, "tool-" + std::to_string(i));
        EXPECT_EQ(entry.selectedCount, i % 2 == 0 ? 2 : 1);
        EXPECT_EQ(entry.availableCount, 3);
        EXPECT_FALSE(entry.isCompleteSelection);
        EXPECT_EQ(entry.impact, "Own impact of Tool " + std::to_string(i) + ".") << "no app: own text";
    }

    for (int limit : {0, -3}) {
        const ImpactAssessment none = ImpactAssessment::make(groups, ids(selected), limit);
        EXPECT_TRUE(none.groups.empty());
        EXPECT_EQ(none.groupCount, 14);
        EXPECT_EQ(none.omittedGroupCount, 14);
        EXPECT_EQ(none.selectedCount, limited.selectedCount);
        EXPECT_EQ(none.highImpactNotes, limited.highImpactNotes);
    }

    const ImpactAssessment roomy = ImpactAssessment::make(groups, ids(selected), 100);
    EXPECT_EQ(roomy.groups.size(), 14u);
    EXPECT_EQ(roomy.omittedGroupCount, 0);
}

TEST(ImpactAssessment, NameProjectAndRoleFacts)
{
    EXPECT_EQ(facts({group("g", "G", {{1, "b"}, {2, "a"}, {3, "a"}})}, {1, 2, 3}),
              std::vector<std::string>{"Selected processes: a, b."});
    EXPECT_EQ(facts({group("g", "G", {{1, "node"}, {2, "node"}, {3, "node"}})}, {1, 2, 3}),
              std::vector<std::string>{"Selected processes: node."});
    EXPECT_EQ(facts({group("g", "G", {{1, "d"}, {2, "b"}, {3, "c"}, {4, "a"}, {5, "e"}})}, {1, 2, 3, 4}),
              std::vector<std::string>{"Selected processes: a, b, c, d."});
    EXPECT_EQ(facts({group("g", "G", {{1, "d"}, {2, "b"}, {3, "c"}, {4, "a"}, {5, "e"}})}, {1, 2, 3, 4, 5}),
              std::vector<std::string>{"Selected processes: a, b, c, d, and others."});
    // Case-sensitive code-point order: upper case and ASCII before accented letters.
    EXPECT_EQ(facts({group("g", "G", {{1, "\xC3\xA9tude"}, {2, "Zed"}, {3, "apple"}})}, {1, 2, 3}),
              std::vector<std::string>{"Selected processes: Zed, apple, \xC3\xA9tude."});
    // Composed and decomposed spellings of the same name are one name.
    EXPECT_EQ(facts({group("g", "G", {{1, "caf\xC3\xA9"}, {2, "cafe\xCC\x81"}})}, {1, 2}),
              std::vector<std::string>{"Selected processes: caf\xC3\xA9."});
    // Ill-formed bytes are kept as the kernel gave them.
    EXPECT_EQ(facts({group("g", "G", {{1, "bad\xFF\xC3"}, {2, "bad"}})}, {1, 2}),
              std::vector<std::string>{"Selected processes: bad, bad\xFF\xC3."});

    const std::vector<ProcessGroup> work{group("g", "G",
                                               {{1, "node", 1, "/home/ana/projects/web/src", "vite"},
                                                {2, "node", 1, "/home/ana/projects/api", "typescript"},
                                                {3, "java", 1, "/home/ana/repos/app", "gradle"},
                                                {4, "java", 1, "/home/ana/Developer/app", "gradle"},
                                                {5, "tsc", 1, "/home/ana/notes", "eslint"},
                                                {6, "sh", 1, "/", ""}})};
    EXPECT_EQ(facts(work, {1, 2, 3, 4, 5, 6}),
              (std::vector<std::string>{"Selected processes: java, node, sh, tsc.", "Working in: api, app, notes.",
                                        "Detected roles: eslint, gradle, typescript."}));
    EXPECT_EQ(facts(work, {3, 4}), (std::vector<std::string>{"Selected processes: java.", "Working in: app.",
                                                             "Detected roles: gradle."}));
    EXPECT_EQ(facts(work, {6}), std::vector<std::string>{"Selected processes: sh."}) << "no project, no role";
}

TEST(ImpactAssessment, UnselectedDirectChildren)
{
    const std::string one = "1 direct child process is not selected; it may keep running but lose the parent service.";
    // The protected child sits in another group: it still counts for its parent.
    const std::vector<ProcessGroup> groups{
        group("server", "Server", {{10, "server"}, {11, "worker", 10}, {12, "worker", 10}, {13, "grandchild", 11}}),
        group("other", "Other", {{20, "guard", 10, "", "", ProcessProtection::otherUser}, {21, "tool", 30}}),
    };
    EXPECT_EQ(facts(groups, {10, 11, 12, 13}),
              (std::vector<std::string>{"Selected processes: grandchild, server, worker.", one}))
        << "selected children do not count; the protected one does";
    EXPECT_EQ(facts(groups, {10, 11}),
              (std::vector<std::string>{"Selected processes: server, worker.",
                                        "3 direct child processes are not selected; they may keep running but lose "
                                        "the parent service."}))
        << "12 and 20 under 10 and 13 under 11 add up";
    EXPECT_EQ(facts(groups, {12}), std::vector<std::string>{"Selected processes: worker."}) << "no children";
    EXPECT_EQ(facts(groups, {13}), std::vector<std::string>{"Selected processes: grandchild."})
        << "an unselected parent gives no count";
}

TEST(ImpactAssessment, ApplicationGroups)
{
    const std::string app = "/opt/Mail.app";
    const std::vector<ProcessGroup> groups{
        group("app:mail", "Mail", {{10, "mail"}, {11, "helper", 10}}, app),
        group("app:orb", "OrbStack", {{20, "orb"}}, "/opt/OrbStack.app"),
    };

    const ImpactAssessment whole = ImpactAssessment::make(groups, ids({10, 11}), 12);
    ASSERT_EQ(whole.groups.size(), 1u);
    EXPECT_EQ(whole.groups[0],
              (SelectedImpactGroup{"app:mail", "Mail",
                                   "Stopping Mail may close its windows and interrupt its tasks; Corvalent tries a "
                                   "normal app quit when its main process is available.",
                                   true, 2, 2, true, {10, 11}, {"Selected processes: helper, mail."}}));
    EXPECT_TRUE(whole.highImpactNotes.empty());

    const ImpactAssessment part = ImpactAssessment::make(groups, ids({11}), 12);
    ASSERT_EQ(part.groups.size(), 1u);
    EXPECT_EQ(part.groups[0],
              (SelectedImpactGroup{
                  "app:mail", "Mail",
                  "Stops only the selected Mail processes. The app may remain open or restart a helper.", true, 1, 2,
                  false, {11}, {"Selected processes: helper.",
                   "Individual processes receive termination signals without an app-level save prompt."}}));
    EXPECT_EQ(part.highImpactNotes, std::vector<std::string>{helperNote});

    const ImpactAssessment orb = ImpactAssessment::make(groups, ids({20}), 12);
    ASSERT_EQ(orb.groups.size(), 1u);
    EXPECT_EQ(orb.groups[0].impact,
              "Stopping OrbStack can interrupt local containers and databases; Corvalent tries a normal app quit "
              "when its main process is available.");
    EXPECT_EQ(orb.highImpactNotes, std::vector<std::string>{orbStackNote});
}

TEST(ImpactAssessment, HighImpactNotesAreDistinctInFirstSeenOrder)
{
    const std::vector<ProcessGroup> groups{
        group("plain", "Plain", {{5, "x"}}),
        group("android", "Emulator", {{10, "qemu"}}),
        group("agent:orb", "OrbStack", {{20, "orb"}}),
        group("android-build", "Gradle", {{30, "java"}}),
        group("ios:77", "Simulator", {{40, "sim"}}),
        group("app:mail", "Mail", {{50, "mail"}, {51, "helper"}}, "/opt/Mail.app"),
        group("debugger", "Debugger", {{60, "gdb"}}),
        group("agent-cli", "Agent", {{70, "agent"}}),
        group("app:notes", "Notes", {{80, "notes"}, {81, "helper"}}, "/opt/Notes.app"),
    };
    const ImpactAssessment assessment =
        ImpactAssessment::make(groups, ids({5, 10, 20, 30, 40, 51, 60, 70, 81}), 12);
    EXPECT_EQ(assessment.groupCount, 9);
    EXPECT_EQ(assessment.highImpactNotes,
              (std::vector<std::string>{deviceNote, orbStackNote, helperNote, debuggerNote, agentNote}));

    // The first matching rule wins: an emulator needs no helper note even as an app.
    const std::vector<ProcessGroup> appDevice{
        group("android-studio", "Studio", {{1, "studio"}, {2, "helper"}}, "/opt/Studio.app")};
    EXPECT_EQ(ImpactAssessment::make(appDevice, ids({2}), 12).highImpactNotes, std::vector<std::string>{deviceNote});
    const std::vector<ProcessGroup> nearMiss{group("debugger2", "D", {{1, "gdb"}}), group("ios", "I", {{2, "sim"}})};
    EXPECT_TRUE(ImpactAssessment::make(nearMiss, ids({1, 2}), 12).highImpactNotes.empty());
}

}  // namespace
}  // namespace corvalent
