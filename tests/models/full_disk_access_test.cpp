// The access probe against real folders under a temp home, with the
// desktop's folder names from a real user-dirs.dirs; what Quit & Reopen
// starts after an upgrade, in a copy of this test program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <thread>
#include <sys/wait.h>

#include "models/full_disk_access.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Status = FullDiskAccessStatus;

// QStandardPaths' test mode would ignore user-dirs.dirs, so the environment
// points it at a temp home and settings folder instead; both are put back.
class AccessProbe : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path home = root.path() / "home";
    fs::path config = root.path() / "config";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string savedConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";

    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(config);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("HOME", savedHome.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    }
    static std::vector<std::string> strings(const std::vector<fs::path>& paths) { return {paths.begin(), paths.end()}; }
};

// Off the GUI thread, as the card's pool job does: the answer may ask a child.
template <typename Work>
auto onAWorker(Work work)
{
    decltype(work()) answer{};
    std::thread([&] { answer = work(); }).join();
    return answer;
}

TEST_F(AccessProbe, RelocatedAndLocalizedFoldersAreOpenedBeforeTheHomeFolder)
{
    EXPECT_EQ(FullDiskAccessProbe::probeFolders(), strings({home})) << "no standard folder exists yet";

    const auto downloads = root.path() / "T\xC3\xA9l\xC3\xA9" "chargements";
    std::ofstream(config / "user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                "XDG_DESKTOP_DIR=\"$HOME/\"\n"
                                                "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                                "XDG_DOWNLOAD_DIR=\"" << downloads.string() << "\"\n";
    for (const auto& folder : {home / "Dokumente", home / "Documents", home / "Desktop", downloads})
        fs::create_directory(folder);
    EXPECT_EQ(FullDiskAccessProbe::probeFolders(), strings({home / "Dokumente", downloads, home}))
        << "an entry naming the home folder itself is left out, and the English names are not guessed";
    EXPECT_EQ(FullDiskAccessProbe::currentStatus(), Status::granted);

    // Without a home folder only the relocated Downloads can answer.
    const auto gone = root.path() / "gone";
    ::setenv("HOME", gone.c_str(), 1);
    EXPECT_EQ(FullDiskAccessProbe::probeFolders(), strings({downloads, gone}));
    EXPECT_EQ(FullDiskAccessProbe::currentStatus(), Status::granted);
    fs::remove(downloads);
    EXPECT_EQ(FullDiskAccessProbe::currentStatus(), Status::unavailable);
}

// An upgrade that puts the new version in a folder of its own, moves the
// installed name there and removes the old folder: a reopen starts what the
// name the program was started by now names, else what the installed name
// names when it was started by its old file's path. A copy of this test
// program, started each way, upgrades itself.
TEST(ReopenAfterUpgrade, TheNewVersionStartsOnceTheOldFolderIsGone)
{
    const testing::TempDir temp;
    const auto dir = fs::canonical(temp.path());
    const auto copy = testing::copyExecutable(fs::read_symlink(std::string(thisProgram)), dir, "tests");
    fs::create_directories(dir / "new");
    fs::create_directories(dir / "bin");
    testing::writeScript(dir / "new", "corvalent", "exit 7\n");
    testing::writeScript(dir / "new", "corvalent-nightly", "exit 8\n");
    const testing::ScopedVariable path("PATH", (dir / "bin").string());
    const testing::ScopedVariable upgrade("CORVALENT_TEST_REOPEN_AFTER_UPGRADE", dir.string());
    const std::string filter = "--gtest_filter=ReopenAfterUpgradeCopy.*";
    for (const auto& [name, byName] : {std::pair{"corvalent", true}, {"corvalent-nightly", true}, {"corvalent", false}}) {
        SCOPED_TRACE(byName ? std::string("started by the name ") + name : "started by its file's path");
        const testing::ScopedVariable started("CORVALENT_TEST_REOPEN_NAME", name);
        fs::create_directories(dir / "old");
        fs::create_hard_link(copy, dir / "old/corvalent");
        fs::create_symlink(dir / "old/corvalent", dir / "bin" / name);
        std::optional<testing::ChildProcess> program;
        if (byName)
            program.emplace("/bin/sh", std::vector<std::string>{"-c", std::string("exec ") + name + " " + filter}, dir);
        else
            program.emplace(dir / "old/corvalent", std::vector<std::string>{filter}, dir);
        const auto status = program->waitFor(std::chrono::seconds(120));
        ASSERT_TRUE(status.has_value()) << "still running two minutes later";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
        EXPECT_TRUE(fs::remove(dir / "checked")) << "the copy's side ran to its end";
    }
}

// The copy's side of the case above.
TEST(ReopenAfterUpgradeCopy, UpgradesItselfAndFindsTheNewVersion)
{
    const char* folder = std::getenv("CORVALENT_TEST_REOPEN_AFTER_UPGRADE");
    if (folder == nullptr) GTEST_SKIP() << "run by the test above";
    const fs::path dir = folder;
    const std::string name = std::getenv("CORVALENT_TEST_REOPEN_NAME");
    const auto old = dir / "old/corvalent";
    const auto started = dir / "bin" / name;
    const auto programPath = [] { return onAWorker([] { return FullDiskAccessVerifier::programPath(); }); };
    EXPECT_EQ(programPath(), old.string()) << "its own file, the link resolved";

    // Replaced at its place: the file now there.
    ASSERT_TRUE(fs::remove(old));
    testing::writeScript(old.parent_path(), old.filename(), "exit 6\n");
    EXPECT_EQ(programPath(), old.string());

    // The new version in a folder of its own, the names moved there, the
    // old folder gone: the name it was started by wins over the installed one.
    fs::remove_all(old.parent_path());
    fs::remove(started);
    fs::create_symlink(dir / "new" / name, started);
    if (name != "corvalent") fs::create_symlink(dir / "new/corvalent", dir / "bin/corvalent");
    const auto program = programPath();
    EXPECT_EQ(program, started.string());
    ChildRunRequest request;
    request.executable = program;
    request.deadline = std::chrono::seconds(60);
    const auto run = onAWorker([&request] { return runChild(request); });
    EXPECT_EQ(run.exitStatus, name == "corvalent" ? 7 : 8) << "the new version";

    // No name left: nothing to start.
    fs::remove(started);
    fs::remove(dir / "bin/corvalent");
    EXPECT_EQ(programPath(), "");
    std::ofstream(dir / "checked");
}

// Documents on a share that never answers. A Desktop folder before it that
// opens answers granted without a look at the share. Without one, the check
// asks a child of its own, which the share holds for good: it answers
// unavailable within its bound, and this process never touches the share.
// Two asks at once start one child; while that child is out no other is
// started; once the share is gone and the child has ended, the next check
// asks again.
TEST_F(AccessProbe, ADocumentsFolderOnAShareThatNeverAnswersIsAskedApart)
{
    testing::SlowTree tree;
    tree.slowStat = tree.slowList = {"."};
    tree.neverAnswers = true;
    testing::SlowMount share(home / "Documents", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();

    // A Desktop folder that opens answers before the share is reached.
    fs::create_directory(home / "Desktop");
    auto first = std::async(std::launch::async, [] {
        return FullDiskAccessVerifier::checkInFreshProcess(std::chrono::seconds(20));
    });
    EXPECT_EQ(first.wait_for(std::chrono::seconds(60)) == std::future_status::ready ? first.get() : Status::checking,
              Status::granted);
    EXPECT_EQ(share.slowCallsBegun(), 0U) << "the check looked at Documents after Desktop had opened";
    fs::remove(home / "Desktop");

    const auto check = FullDiskAccessVerifier::repeatedCheck();
    // Children are started off the GUI thread; a check held by the share is let go.
    const auto answer = [&]() -> std::optional<Status> {
        auto checking = std::async(std::launch::async, check);
        if (checking.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return checking.get();
        share.unmount();
        return std::nullopt;
    };
    // As from the card and the disk page at once.
    auto other = std::async(std::launch::async, check);
    ASSERT_EQ(answer(), Status::unavailable);
    ASSERT_EQ(other.wait_for(std::chrono::seconds(60)) == std::future_status::ready ? other.get() : Status::checking,
              Status::unavailable);
    EXPECT_EQ(share.slowCallsBegunByChildrenOf(::getpid()), 1U) << "one child waits on the share";
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U);
    ASSERT_EQ(answer(), Status::unavailable);
    EXPECT_EQ(share.slowCallsBegun(), 1U) << "no second child while the first is out";

    share.unmount();
    std::optional<Status> last;
    EXPECT_TRUE(testing::eventually([&] { return (last = answer()) == Status::granted; }, std::chrono::seconds(30)))
        << "the share is gone, and an empty Documents opens";
}

// The shell's check, as every window asks it, against Documents on a share
// that never answers: it answers unavailable within its limit. The guard
// is the test's own, generous for a two-second limit, and short of ten.
TEST_F(AccessProbe, ACheckHeldByAShareAnswersUnavailableWithinItsLimit)
{
    testing::SlowTree tree;
    tree.slowStat = tree.slowList = {"."};
    tree.neverAnswers = true;
    testing::SlowMount share(home / "Documents", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();

    const auto check = FullDiskAccessVerifier::repeatedCheck();
    std::atomic<bool> answered = false;
    std::atomic<Status> answer = Status::checking;
    std::thread asking([&] {
        answer = check();
        answered = true;
    });
    const bool inTime = testing::eventually([&] { return answered.load(); }, std::chrono::seconds(7));
    if (!inTime) share.unmount();
    asking.join();
    EXPECT_TRUE(inTime) << "no answer within the check's limit";
    EXPECT_EQ(answer.load(), Status::unavailable);
    EXPECT_EQ(share.slowCallsBegunByChildrenOf(::getpid()), 1U) << "its child waits on the share";
}

}  // namespace
}  // namespace corvalent
