// Installed applications from desktop entries in temp XDG folders, and real
// children grouped by them.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>
#include <thread>

#include "core/process/desktop_entries.h"
#include "core/process/processes.h"
#include "core/process/snapshot.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
namespace fs = std::filesystem;

void writeEntry(const fs::path& file, const std::string& keys, const std::string& type = "Application")
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "[Desktop Entry]\nType=" << type << "\n" << keys;
}

fs::path copyInto(const fs::path& from, const fs::path& folder, const std::string& name)
{
    fs::create_directories(folder);
    return testing::copyExecutable(from, folder, name);
}

const ProcessGroup* groupHolding(const std::vector<ProcessGroup>& groups, pid_t pid)
{
    for (const auto& group : groups)
        for (const auto& member : group.members)
            if (member.pid == pid) return &group;
    return nullptr;
}

// Applications under a temp prefix: a folder application (a shell as its main
// program and a helper), a program on PATH, a script run by an interpreter.
struct Installed {
    testing::TempDir root = testing::tempDirUnderHome();
    fs::path prefix = fs::canonical(root.path());
    fs::path user = prefix / "user";
    fs::path system = prefix / "system";
    fs::path viewerFolder = prefix / "opt" / "viewer";
    fs::path viewer = copyInto("/bin/sh", viewerFolder, "viewer");
    fs::path helper = copyInto(testing::idleChildProgram(), viewerFolder, "viewer-helper");
    fs::path tally = copyInto(testing::idleChildProgram(), prefix / "bin", "tally");
    fs::path python = copyInto(testing::idleChildProgram(), prefix / "pybin", "python3");
    fs::path worker = copyInto(testing::idleChildProgram(), prefix / "tools", "worker");
    fs::path script = prefix / "scripts" / "notes" / "notes.py";
    testing::ScopedVariable data{"XDG_DATA_HOME", user.string()};
    testing::ScopedVariable dirs{"XDG_DATA_DIRS", system.string()};
    testing::ScopedVariable path{"PATH", (prefix / "bin").string() + ":" + (prefix / "pybin").string() + ":/usr/bin:/bin"};

    Installed()
    {
        testing::writeFile(script, 10);
        const auto apps = system / "applications";
        writeEntry(apps / "viewer.desktop", "Name=Viewer\nName[de]=Betrachter\nIcon=viewer-icon\nTryExec=" +
                                                viewer.string() + "\nExec=viewer-start %U\n");
        // A second entry of the same folder: the entry named like the program stands for both.
        writeEntry(apps / "a-viewer-tools.desktop", "Name=Viewer Tools\nExec=\"" + helper.string() + "\" --tools\n");
        writeEntry(apps / "tally.desktop", "Name=Tally (system)\nExec=tally\n");
        writeEntry(user / "applications" / "tally.desktop", "Name=Tally\nIcon=tally\nExec=env FOO=1 tally %U\n");
        writeEntry(apps / "worker.desktop", "Name=Worker\nHidden=true\nExec=" + worker.string() + "\n");
        writeEntry(apps / "ghost.desktop", "Name=Ghost\nExec=" + (prefix / "opt/ghost/ghost").string() + "\n");
        writeEntry(apps / "vendor" / "notes.desktop", "Name=Notes\nExec=python3 " + script.string() + " %F\n");
        writeEntry(apps / "link.desktop", "Name=Link\nExec=" + worker.string() + "\n", "Link");
    }
};

TEST(ApplicationIndex, LocationsTitlesAndPrecedenceOfInstalledEntries)
{
    Installed installed;
    const auto places = ApplicationPlaces::fromEnvironment();
    const auto index = ApplicationIndex::build(places);

    const auto* viewer = index.locate(installed.helper.string());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(*viewer, (InstalledApplication{installed.viewerFolder.string(), "Viewer", "viewer-icon", "viewer.desktop"}));
    EXPECT_EQ(index.locate((installed.viewerFolder / "lib/deeper/tool").string()), viewer) << "below the folder";
    EXPECT_FALSE(index.locate(installed.viewerFolder.string() + "-beta/viewer")) << "a sibling named alike";

    // A shared program folder holds only the program itself; the user's entry shadows the system's.
    const auto* tally = index.locate(installed.tally.string());
    ASSERT_TRUE(tally);
    EXPECT_EQ(tally->title, "Tally");
    EXPECT_EQ(tally->location, installed.tally.string());
    EXPECT_FALSE(index.locate((installed.prefix / "bin/other").string()));

    // The interpreter gives nothing; the script it runs has a folder of its own.
    EXPECT_FALSE(index.locate(installed.python.string()));
    ASSERT_TRUE(index.locate(installed.script.string()));
    EXPECT_EQ(index.locate(installed.script.string())->id, "vendor-notes.desktop");

    EXPECT_FALSE(index.locate(installed.worker.string())) << "hidden entry, and a link is no application";
    EXPECT_FALSE(index.locate((installed.prefix / "opt/ghost/ghost").string())) << "missing program";
    EXPECT_EQ(index.size(), 3U);

    EXPECT_EQ(Classifier::appPath(installed.helper.string(), index), installed.viewerFolder.string());
    EXPECT_EQ(Classifier::appPath("/A/Mail.app/Contents/MacOS/Mail", index), "/A/Mail.app");
    EXPECT_FALSE(ApplicationIndex().locate(installed.helper.string()));

    const auto before = ApplicationIndex::stamp(places);
    EXPECT_EQ(before, index.builtStamp());
    writeEntry(installed.user / "applications" / "new.desktop", "Name=New\nExec=worker\n");
    EXPECT_NE(ApplicationIndex::stamp(places), before) << "an added entry must be noticed";
}

// A PATH folder and a data folder on a share that never answers, put first:
// entries and programs are looked for only on mounts that answer, so the
// index is built, its programs found further along PATH, and nothing here
// waits on the share. The test program runs in a mount namespace of its own.
TEST(ApplicationIndex, FoldersOnAShareThatMayNotAnswerAreNeverLookedAt)
{
    Installed installed;
    testing::SlowTree tree;
    tree.folders = {"applications"};
    tree.files = {{"tally", 0}};
    tree.slowStat = tree.slowList = {".", "tally", "applications"};
    tree.neverAnswers = true;
    testing::SlowMount share(installed.prefix / "share", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    // Reached through a link on the answering mount, too.
    fs::create_directory_symlink(share.path(), installed.prefix / "linked");
    const testing::ScopedVariable path("PATH", share.path().string() + ":" + (installed.prefix / "linked").string() +
                                                   ":" + (installed.prefix / "bin").string() + ":/usr/bin:/bin");
    const testing::ScopedVariable dirs("XDG_DATA_DIRS", share.path().string() + ":" + installed.system.string());

    const auto places = ApplicationPlaces::fromEnvironment();
    EXPECT_EQ(places.searchPath.front(), (installed.prefix / "bin").string());
    EXPECT_EQ(places.applicationFolders.back(), (installed.system / "applications").string());
    const auto index = ApplicationIndex::build(places);
    ASSERT_TRUE(index.locate(installed.tally.string()));
    EXPECT_EQ(index.locate(installed.tally.string())->title, "Tally");
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U) << "a thread of this program looked at the share";
}

TEST(ApplicationIndex, RealChildrenGroupAsTheirInstalledApplication)
{
    Installed installed;
    const auto index = ApplicationIndex::build(ApplicationPlaces::fromEnvironment());
    // The main program starts its helper and an unrelated program.
    ChildProcess viewer(installed.viewer,
                        {"-c", installed.helper.string() + " & " + installed.worker.string() + " & wait"},
                        installed.prefix);
    ChildProcess tally(installed.tally, {}, installed.prefix);
    ChildProcess otherPython(installed.python, {"other.py"}, installed.prefix);
    ChildProcess lonelyWorker(installed.worker, {}, installed.prefix);

    ScanResult result;
    pid_t helperPid = 0;
    pid_t workerPid = 0;
    testing::eventually([&] {
        result = Scanner::scan();
        for (const auto& record : result.records) {
            if (record.parent != viewer.pid()) continue;
            if (record.name == "viewer-helper") helperPid = record.pid;
            if (record.name == "worker") workerPid = record.pid;
        }
        return helperPid != 0 && workerPid != 0;
    });
    ASSERT_NE(helperPid, 0);
    ASSERT_NE(workerPid, 0);

    const auto groups = Classifier::groups(result.records, false, index);
    const auto* app = groupHolding(groups, viewer.pid());
    ASSERT_TRUE(app);
    EXPECT_EQ(app->id, "app:" + installed.viewerFolder.string());
    EXPECT_EQ(app->title, "Viewer");
    EXPECT_EQ(app->appPath, installed.viewerFolder.string());
    EXPECT_EQ(app->iconName, "viewer-icon");
    EXPECT_EQ(app->impact, "Quits Viewer; unsaved work or ongoing tasks may be interrupted.");
    EXPECT_EQ(app->members.size(), 3U);
    EXPECT_EQ(groupHolding(groups, helperPid), app);
    EXPECT_EQ(groupHolding(groups, workerPid), app) << "a child of the application joins it";

    const auto* tallyGroup = groupHolding(groups, tally.pid());
    ASSERT_TRUE(tallyGroup);
    EXPECT_EQ(tallyGroup->id, "app:" + installed.tally.string());
    EXPECT_EQ(tallyGroup->members.size(), 1U);

    const auto* python = groupHolding(groups, otherPython.pid());
    ASSERT_TRUE(python);
    EXPECT_FALSE(python->appPath);
    EXPECT_EQ(python->title, "python3 workers");
    const auto* lonely = groupHolding(groups, lonelyWorker.pid());
    ASSERT_TRUE(lonely);
    EXPECT_FALSE(lonely->appPath);

    // A sample grouped without the index is grouped again once it arrives,
    // though no process changed.
    const auto first = ProcessSnapshot::make(result, nullptr);
    ASSERT_FALSE(groupHolding(first.groups, viewer.pid())->appPath);
    const auto second = ProcessSnapshot::make(result, &first, index);
    EXPECT_EQ(groupHolding(second.groups, viewer.pid())->title, "Viewer");
    ::kill(helperPid, SIGKILL);
    ::kill(workerPid, SIGKILL);
}

// Flatpak's exported entries stand for their installation, whose programs
// read as "/app/…" from outside the sandbox.
TEST(ApplicationIndex, FlatpakEntriesStandForTheirInstallation)
{
    const testing::TempDir root;
    const fs::path system = root.path() / "var/lib/flatpak";
    const fs::path user = root.path() / "home/.local/share";
    const auto systemEntries = system / "exports/share/applications";
    const auto userEntries = user / "flatpak/exports/share/applications";
    writeEntry(systemEntries / "org.example.Photos.desktop",
               "Name=Photos\nIcon=org.example.Photos\nX-Flatpak=org.example.Photos\n"
               "Exec=/usr/bin/flatpak run --branch=stable --command=photos org.example.Photos @@u %U @@\n");
    writeEntry(userEntries / "org.example.Notes.desktop",
               "Name=Notes\nIcon=notes\nExec=flatpak run --arch=x86_64 org.example.Notes\n");
    writeEntry(userEntries / "org.example.Bad.desktop", "Name=Bad\nX-Flatpak=../../../usr\n");

    ApplicationPlaces places;
    places.applicationFolders = {userEntries.string() + "/", systemEntries.string()};
    const auto index = ApplicationIndex::build(places);
    const auto photos = (system / "app/org.example.Photos").string();
    const auto notes = (user / "flatpak/app/org.example.Notes").string();
    ASSERT_TRUE(index.locate(photos));
    EXPECT_EQ(*index.locate(photos), (InstalledApplication{photos, "Photos", "org.example.Photos",
                                                            "org.example.Photos.desktop"}));
    ASSERT_TRUE(index.locate(notes + "/current/active/files/bin/notes"));
    EXPECT_EQ(index.locate(notes)->title, "Notes");
    EXPECT_EQ(index.size(), 2U) << "an id that is a path gives nothing";

    // The user's installation wins when it holds the application.
    fs::create_directories(notes);
    EXPECT_EQ(DesktopEntries::flatpakInstallation("org.example.Notes", user.string()), notes);
    EXPECT_EQ(DesktopEntries::flatpakInstallation("org.example.Photos", user.string()),
              "/var/lib/flatpak/app/org.example.Photos");
    EXPECT_EQ(DesktopEntries::flatpakInstallation("../etc", user.string()), "");

    // Grouping places a sandboxed process by its hint; the hint of another
    // path changes nothing.
    auto sandboxed = ProcessRecord::make(4'000'001, 1, ::getuid(), 1, 0, 1'000, "notes", "/app/bin/notes", "", "");
    sandboxed.applicationHint = notes;
    auto unsandboxed = ProcessRecord::make(4'000'002, 1, ::getuid(), 1, 0, 1'000, "tool", "/usr/bin/tool", "", "");
    unsandboxed.applicationHint = notes;
    const auto groups = Classifier::groups({sandboxed, unsandboxed}, false, index);
    const auto* app = groupHolding(groups, sandboxed.pid);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->appPath, notes);
    EXPECT_EQ(app->title, "Notes");
    EXPECT_TRUE(app->members.front().isProtected()) << "a sandboxed program stays read-only";
    ASSERT_TRUE(groupHolding(groups, unsandboxed.pid));
    EXPECT_FALSE(groupHolding(groups, unsandboxed.pid)->appPath);
}

// Desktop entries and icon theme indexes share one reader.
TEST(DesktopEntries, KeyFileGroupsKeepUnlocalisedKeysFirstWins)
{
    const testing::TempDir root;
    const auto file = root.path() / "index.theme";
    std::ofstream(file) << "Orphan=before any group\n"
                           "[Icon Theme]\n"
                           "  Name = Probe  \n"
                           "Name[de]=Sonde\n"
                           "# Name=comment\n"
                           "Name=second\n"
                           "Comment=a\\sb\\tc\\\\d\\;e\r\n"
                           "=no key\n"
                           "[48x48/apps]\n"
                           "Size=48\n"
                           "[broken\n"
                           "Size=1\n"
                           "[Icon Theme]\n"
                           "Directories=48x48/apps\n";
    const KeyFile expected{
        {"Icon Theme", {{"Name", "Probe"}, {"Comment", "a b\tc\\d\\;e"}, {"Directories", "48x48/apps"}}},
        {"48x48/apps", {{"Size", "48"}}},
    };
    EXPECT_EQ(DesktopEntries::readKeyFile(file.string()), expected);
    EXPECT_TRUE(DesktopEntries::readKeyFile((root.path() / "missing").string()).empty());
}

}  // namespace
}  // namespace corvalent
