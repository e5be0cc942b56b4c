// The own chooser and the program's end: after an upgrade replaced the
// program's file, and after Quit once the chooser visited a dead share.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/wait.h>

#include "chooser_dialog_fixture.h"
#include "core/common/child_process.h"
#include "models/background_task.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/labels.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HomeWithADeadShare;
using testing::listedAfter;
using testing::shownNames;

// An upgrade replaces the program's file while it runs: the program's own
// chooser, made as the application makes it, still lists through the
// program. A copy of this test program, started from a file that it then
// replaces, opens the chooser on a home of one folder.
TEST(OwnFolderChooser, StillListsAfterAnUpgradeReplacedTheProgramsFile)
{
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "home" / "Music");
    // A second name for this program's file, which the copy then replaces.
    const auto copy = dir.path() / "corvalent";
    std::error_code linked;
    fs::create_hard_link(fs::read_symlink(std::string(thisProgram)), copy, linked);
    if (linked) fs::copy_file(fs::read_symlink(std::string(thisProgram)), copy);
    testing::ScopedVariable homeVariable("HOME", (dir.path() / "home").string());
    testing::ScopedVariable mode("CORVALENT_TEST_CHOOSE_AFTER_UPGRADE", "1");
    testing::ChildProcess program(copy, {"--gtest_filter=FolderChooserAfterUpgrade.*"}, dir.path());
    const auto status = program.waitFor(120s);
    ASSERT_TRUE(status.has_value()) << "still running two minutes later";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
}

// The copy's side of the case above.
TEST(FolderChooserAfterUpgrade, ReplacesItsOwnFileAndLists)
{
    if (!qEnvironmentVariableIsSet("CORVALENT_TEST_CHOOSE_AFTER_UPGRADE")) GTEST_SKIP() << "run by the test above";
    const auto file = fs::read_symlink(std::string(thisProgram));
    ASSERT_TRUE(fs::remove(file));
    testing::writeFile(file, 4'096);  // the new version, as a package upgrade leaves it
    OwnFolderChooser chooser;
    chooser.choose(nullptr, [](std::optional<std::string>) {});
    ASSERT_NE(chooser.dialog(), nullptr);
    const auto& dialog = *chooser.dialog();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.listed(); }, 60'000));
    EXPECT_EQ(shownNames(dialog), QStringList{"Music"});
    EXPECT_FALSE(dialog.message().isVisibleTo(&dialog)) << dialog.message().text().toStdString();
}

// The program ends after Quit, the chooser having visited the dead share: in
// a process of its own, the test program run again for the case below.
TEST(OwnFolderChooser, TheProgramEndsAfterQuitOnceTheChooserVisitedADeadShare)
{
    HomeWithADeadShare home;
    std::optional<testing::ChildProcess> program;
    testing::SlowMount mount(home.temp.home / "share", home.tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    testing::ScopedVariable mode("CORVALENT_TEST_QUIT_AFTER_CHOOSER", "1");
    program.emplace("/proc/self/exe", std::vector<std::string>{"--gtest_filter=FolderChooserQuit.*"}, home.temp.home);
    ASSERT_TRUE(mount.waitForSlowCalls(1, 60s)) << "the chooser never entered the share";
    const auto status = program->waitFor(60s);
    ASSERT_TRUE(status.has_value()) << "still there a minute later";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
}

// The program's side of the case above: the chooser enters the share, is
// cancelled, and the program quits and ends as runApplication ends it.
TEST(FolderChooserQuit, EntersTheShareAndQuits)
{
    if (!qEnvironmentVariableIsSet("CORVALENT_TEST_QUIT_AFTER_CHOOSER")) GTEST_SKIP() << "run by the test above";
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    auto* app = new CorvalentApp;
    auto chooser = std::make_shared<OwnFolderChooser>(CORVALENT_APP, 1s);
    app->setFolderChooser(chooser);
    app->openMainWindow();
    app->mainView()->setSection(AppSection::storage);
    auto* page = qobject_cast<DiskView*>(app->mainView()->currentPage());
    ASSERT_NE(page, nullptr);
    page->chooseFolder();
    ASSERT_NE(chooser->dialog(), nullptr);
    auto& dialog = *chooser->dialog();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.listed(); }, 20'000));
    ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(QFile::decodeName(dialog.listedFolder()) + "/share"); }));
    ASSERT_TRUE(dialog.message().isVisibleTo(&dialog));
    dialog.reject();
    QTimer::singleShot(0, &app->quitAction(), &QAction::trigger);
    QApplication::exec();
    BackgroundTask::drainLanes(250ms);
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace
}  // namespace corvalent
