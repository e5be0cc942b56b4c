// The stop road end to end in the real application window, on a real display
// when there is one: the user finds a group by search, selects it, confirms
// on the sheet and sees the outcome on the shelf, while real children end.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/wait.h>

#include "models/background_task.h"
#include "models/vantle_model.h"
#include "keyboard_walk.h"
#include "live_environments.h"
#include "test_support.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/process_page.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/processes/stop/stop_confirmation.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

const QString exitedOne = QStringLiteral("1 of 1 selected processes exited. Apps may start new helpers automatically.");

// The dark palette for one test, the earlier one again after it.
struct DarkAppearance {
    QPalette saved = QApplication::palette();
    DarkAppearance() { applyAppearance(AppAppearance::dark); }
    ~DarkAppearance() { QApplication::setPalette(saved); }
};

class StopRoadWindow : public ::testing::Test {
protected:
    testing::TempDir home = testing::tempDirUnderHome();
    std::filesystem::path project = home.path() / "project";
    QByteArray savedHome = qgetenv("HOME");
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::unique_ptr<CorvalentApp> app;

    void SetUp() override
    {
        std::filesystem::create_directories(project);
        qputenv("HOME", QByteArray::fromStdString(home.path().string()));
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->openMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        QTest::mouseClick(&view().sectionSwitch().button(AppSection::processes), Qt::LeftButton);
        ASSERT_NE(page(), nullptr);
    }
    void TearDown() override
    {
        app.reset();
        drainProcessLane();
        qputenv("HOME", savedHome);
    }

    ChildProcess& start(const std::string& name)
    {
        // Members of one group share one program file, copied once.
        auto program = project / name;
        if (!std::filesystem::exists(program)) program = testing::copyExecutable(testing::idleChildProgram(), project, name);
        children.push_back(std::make_unique<ChildProcess>(program, std::vector<std::string>{}, project));
        return *children.back();
    }
    MainView& view() { return *app->mainView(); }
    VantleModel& model() { return app->model(); }
    ProcessPage* page() { return qobject_cast<ProcessPage*>(view().currentPage()); }
    ProcessListView& list() { return page()->listPane().list(); }
    ProcessListModel& rows() { return list().rows(); }
    SelectionShelf& shelf() { return *page()->findChild<SelectionShelf*>(); }
    StopConfirmation* sheet()
    {
        for (auto* dialog : app->mainWindow().findChildren<StopConfirmation*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    }
    QString text(QWidget& in, const char* name) { return in.findChild<QLabel*>(name)->text(); }

    // Types into the search field until the sample lists `pid`; returns its row.
    int find(const QString& search, pid_t pid)
    {
        auto& field = page()->listPane().searchField();
        field.clear();
        QTest::keyClicks(&field, search);
        std::optional<int> found;
        const bool shown = QTest::qWaitFor(
            [&] {
                for (int i = 0; i < rows().rowCount(); ++i)
                    for (const auto& member : model().visible()[static_cast<std::size_t>(i)].members)
                        if (member.pid == pid) found = i;
                return found.has_value();
            },
            20'000);
        EXPECT_TRUE(shown) << "no row for pid " << pid;
        return found.value_or(0);
    }
    void clickGlyph(int row)
    {
        const auto at = list().rowDelegate().glyphRect(list().visualRect(rows().index(row)), row).center().toPoint();
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }
    void clickTitle(int row)
    {
        const auto area = list().rowDelegate().rowRect(list().visualRect(rows().index(row)), row);
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {},
                          QPoint(static_cast<int>(area.left() + 140), static_cast<int>(area.center().y())));
        QCoreApplication::processEvents();
    }
    StopConfirmation& openSheet(Button& button)
    {
        QTest::mouseClick(&button, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr; }, 5'000));
        return *sheet();
    }
    // Tab to `button`, Space, and the sheet it opens made the active window;
    // null when any step fails.
    StopConfirmation* openSheetFromKeyboard(Button& button)
    {
        if (!tabTo(button)) return nullptr;
        QTest::keyClick(&button, Qt::Key_Space);
        if (!QTest::qWaitFor([&] { return sheet() != nullptr; }, 5'000)) return nullptr;
        return activate(*sheet()) ? sheet() : nullptr;
    }
    void waitForOutcome()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model().stopping(); }, 30'000));
        QCoreApplication::processEvents();
    }
    // On a display, the whole screen (the sheet with its window); offscreen,
    // the window and any sheet apart.
    void screenshot(const QString& name)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        const QString path = QString(CORVALENT_SCREENSHOTS) + "/stop-road-window-" + name;
        if (QGuiApplication::platformName() == "xcb") {
            EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path + ".png"));
            return;
        }
        EXPECT_TRUE(app->mainWindow().grab().save(path + ".png"));
        if (auto* shown = sheet()) {
            EXPECT_TRUE(shown->grab().save(path + "-sheet.png"));
        }
    }
};

TEST_F(StopRoadWindow, SearchSelectConfirmAndTheChildEndsByTermination)
{
    auto& child = start("zq-road-term");
    const int row = find("zq-road-term", child.pid());
    EXPECT_EQ(shelf().headlineText(), "Ready when you are");
    clickGlyph(row);
    EXPECT_TRUE(shelf().headlineText().startsWith("1 selected \u00b7 ")) << shelf().headlineText().toStdString();
    screenshot("1-selected");

    auto& shown = openSheet(shelf().stopButton());
    EXPECT_EQ(text(shown, "stopTitle"), "Ready to stop?");
    EXPECT_EQ(text(shown, "stopNote"), StopTexts::methodNote(false));
    EXPECT_EQ(text(shown, "stopRecord"), QString("zq-road-term \u00b7 PID %1").arg(child.pid()));
    screenshot("2-sheet");

    QTest::keyClick(&shown.confirmButton(), Qt::Key_Return);
    drainLanes();
    settle();
    EXPECT_EQ(sheet(), &shown) << "Return on the stop does nothing";
    EXPECT_TRUE(child.running());

    QTest::mouseClick(&shown.confirmButton(), Qt::LeftButton);
    const auto status = child.waitFor(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
    waitForOutcome();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(shelf().statusText(), exitedOne);
    screenshot("3-stopped");
}

TEST_F(StopRoadWindow, ForceStopTakesOnlyTheMemberLeftSelectedInTheInspector)
{
    auto& kept = start("zq-road-pair");
    auto& ended = start("zq-road-pair");
    const int row = find("zq-road-pair", ended.pid());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().visible()[static_cast<std::size_t>(row)].members.size() == 2; },
                                20'000));
    clickGlyph(row);
    EXPECT_TRUE(shelf().headlineText().startsWith("2 selected \u00b7 "));
    clickTitle(row);
    auto* check = page()->findChild<QCheckBox*>(QString("memberCheck:%1").arg(kept.pid()));
    ASSERT_NE(check, nullptr) << "the inspector lists the member";
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    QCoreApplication::processEvents();
    EXPECT_TRUE(shelf().headlineText().startsWith("1 selected \u00b7 "));
    screenshot("4-member-deselected");

    auto& shown = openSheet(shelf().forceButton());
    EXPECT_EQ(text(shown, "stopTitle"), "Force stop?");
    EXPECT_EQ(text(shown, "stopRecord"), QString("zq-road-pair \u00b7 PID %1").arg(ended.pid()));
    EXPECT_EQ(shown.confirmButton().text(), "Force stop");
    screenshot("5-force-sheet");
    QTest::mouseClick(&shown.confirmButton(), Qt::LeftButton);
    const auto status = ended.waitFor(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    waitForOutcome();
    EXPECT_EQ(shelf().statusText(), exitedOne);
    EXPECT_TRUE(kept.running()) << "the deselected member is left alone";
}

// Found, chosen and stopped without a pointer, in the dark appearance: each
// sheet opens from Space with the ring on Cancel at once, Tab reaches its
// action, Return and Enter stop nothing, and Space does.
TEST_F(StopRoadWindow, FromTheKeyboardEachSheetShowsItsRingAtOnceAndOnlySpaceStops)
{
    const DarkAppearance dark;
    auto& child = start("zq-road-keys");
    const int row = find("zq-road-keys", child.pid());
    ASSERT_TRUE(activate(app->mainWindow()));
    ASSERT_TRUE(tabTo(list()));
    for (int presses = 0; presses <= row && list().currentIndex().row() != row; ++presses)
        QTest::keyClick(&list(), Qt::Key_Down);
    ASSERT_EQ(list().currentIndex().row(), row);
    QTest::keyClick(&list(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shelf().headlineText().startsWith("1 selected \u00b7 "); }, 5'000))
        << shelf().headlineText().toStdString();

    for (const bool force : {false, true}) {
        auto* opened = openSheetFromKeyboard(force ? shelf().forceButton() : shelf().stopButton());
        ASSERT_NE(opened, nullptr) << (force ? "force stop" : "stop") << ": its sheet from Tab and Space";
        auto& shown = *opened;
        EXPECT_EQ(QApplication::focusWidget(), &shown.cancelButton());
        EXPECT_GT(ringStrength(shown.cancelButton()), 40) << "opened by Space: Cancel shows its ring at once";
        screenshot(force ? "7-keys-force-sheet-dark" : "7-keys-sheet-dark");

        QTest::keyClick(&shown.cancelButton(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), &shown.confirmButton()) << "Tab reaches the stop";
        for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(&shown.confirmButton(), key);
        drainLanes();
        settle();
        EXPECT_EQ(sheet(), &shown) << "Return stops nothing and closes nothing";
        EXPECT_TRUE(child.running());
        if (!force) {
            QTest::keyClick(&shown.confirmButton(), Qt::Key_Escape);
            ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() == nullptr; }, 5'000));
            ASSERT_TRUE(activate(app->mainWindow()));
            continue;
        }
        QTest::keyClick(&shown.confirmButton(), Qt::Key_Space);
    }
    const auto status = child.waitFor(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    waitForOutcome();
    EXPECT_EQ(shelf().statusText(), exitedOne);
}

// How strongly the accent shows just inside the left edge of a row's own
// rectangle, halfway down, where the kit draws its ring.
int rowRingStrength(ProcessListView& list, int row)
{
    const auto area = list.rowDelegate().rowRect(list.visualRect(list.rows().index(row)), row);
    const auto colour = list.viewport()->grab().toImage().pixelColor(static_cast<int>(area.left()) + 1,
                                                                     static_cast<int>(area.center().y()));
    return colour.green() - colour.red();
}

// Tab shows the ring on the list's current row at once. A stop, and then a
// force stop of the process that ignored it, each bring the focus back to
// the list: on the stopped group while it runs, on its neighbour once it is
// gone. The inspector shows the row the focus rests on, so Space there
// chooses the group it shows, and Tab goes on to that group's check boxes.
TEST_F(StopRoadWindow, AfterAStopAndAForceStopTheFocusIsBackOnTheList)
{
    // Ignored through exec: the first stop leaves it running.
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGTERM, &ignore, &saved);
    children.push_back(std::make_unique<ChildProcess>(
        testing::copyExecutable(testing::idleChildProgram(), project, "zq-focus-stubborn"), std::vector<std::string>{},
        project));
    ::sigaction(SIGTERM, &saved, nullptr);
    auto& stubborn = *children.back();
    const auto other = project / "other";
    std::filesystem::create_directories(other);
    children.push_back(std::make_unique<ChildProcess>(
        testing::copyExecutable(testing::idleChildProgram(), other, "zq-focus-neighbour"), std::vector<std::string>{},
        other));
    find("zq-focus", stubborn.pid());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows().rowCount() == 2; }, 20'000));
    const auto groupOf = [&](pid_t pid) {
        for (const auto& group : model().visible())
            for (const auto& member : group.members)
                if (member.pid == pid) return group.id;
        return std::string();
    };
    const auto stubbornGroup = groupOf(stubborn.pid());

    ASSERT_TRUE(activate(app->mainWindow()));
    ASSERT_TRUE(tabTo(list()));
    ASSERT_TRUE(list().currentIndex().isValid());
    EXPECT_TRUE(list().showsFocusRing());
    EXPECT_GT(rowRingStrength(list(), list().currentIndex().row()), 40) << "Tab: the current row shows the ring";
    screenshot("8-tabbed-into-list");
    for (int presses = 0; presses < 2 && rows().row(list().currentIndex().row()).id != stubbornGroup; ++presses)
        QTest::keyClick(&list(), Qt::Key_Down);
    ASSERT_EQ(rows().row(list().currentIndex().row()).id, stubbornGroup);
    QTest::keyClick(&list(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shelf().headlineText().startsWith("1 selected \u00b7 "); }, 5'000));

    for (const bool force : {false, true}) {
        auto* opened = openSheetFromKeyboard(force ? shelf().forceButton() : shelf().stopButton());
        ASSERT_NE(opened, nullptr) << (force ? "force stop" : "stop") << ": its sheet from Tab and Space";
        auto& shown = *opened;
        QTest::keyClick(&shown.cancelButton(), Qt::Key_Tab);
        QTest::keyClick(&shown.confirmButton(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() == nullptr; }, 10'000));
        if (force) {
            ASSERT_TRUE(stubborn.waitFor(10s));
        }
        waitForOutcome();
        ASSERT_TRUE(activate(app->mainWindow()));
        settle();
        EXPECT_EQ(QApplication::focusWidget(), &list()) << (force ? "force stop" : "stop");
        EXPECT_EQ(focusFault(), "");
        ASSERT_TRUE(list().currentIndex().isValid());
        const auto& current = rows().row(list().currentIndex().row()).id;
        if (force)
            EXPECT_EQ(current, groupOf(children.back()->pid())) << "the stopped group left: its neighbour";
        else
            EXPECT_EQ(current, stubbornGroup) << "it ignored the stop: still its row";
        EXPECT_GT(rowRingStrength(list(), list().currentIndex().row()), 40);
        EXPECT_EQ(model().focused(), current) << "the inspector shows the ringed row";
        EXPECT_FALSE(page()->findChild<ProcessInspector*>()->showsPlaceholder());
        screenshot(force ? "9-focus-after-force-stop" : "9-focus-after-stop");
    }
    {
        const DarkAppearance dark;
        screenshot("9-focus-after-force-stop-dark");
    }
    EXPECT_TRUE(model().selected().empty()) << "a row made current is not chosen";
    QTest::keyClick(&list(), Qt::Key_Space);
    auto* check = page()->findChild<QCheckBox*>(QString("memberCheck:%1").arg(children.back()->pid()));
    ASSERT_NE(check, nullptr) << "the inspector lists the neighbour's process";
    EXPECT_TRUE(QTest::qWaitFor([&] { return check->isChecked(); }, 5'000)) << "Space chose the group the inspector shows";
    ASSERT_TRUE(tabTo(*check, 4)) << "Tab reaches its check box";
    QTest::keyClick(check, Qt::Key_Space);
    EXPECT_TRUE(model().selected().empty());
    for (int presses = 0; presses < 4 && !list().hasFocus(); ++presses)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    ASSERT_TRUE(list().hasFocus());

    // The last row gone too, the empty list hands the focus on to the search field, ringed.
    children.back().reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows().rowCount() == 0; }, 20'000));
    settle();
    auto& field = page()->listPane().searchField();
    ASSERT_EQ(QApplication::focusWidget(), &field);
    EXPECT_EQ(focusFault(), "");
    auto& well = *field.parentWidget();
    EXPECT_EQ(well.grab().toImage().pixel(well.width() / 2, 1), FocusRing::colour(well.palette()).rgb());
    screenshot("9-focus-after-the-list-emptied");
}

// Two groups selected by keys, listed first and last: the first ends with
// the stop, the last ignores it. The focus goes to the group still
// selected, not to the unrelated row that moved into the ended one's place.
TEST_F(StopRoadWindow, AfterAStopTheFocusGoesToTheGroupStillSelected)
{
    const auto startIn = [&](const std::string& name, std::vector<std::string> arguments, bool ignoresStop) {
        const auto folder = project / name;
        std::filesystem::create_directories(folder);
        struct sigaction ignore {};
        struct sigaction saved {};
        ignore.sa_handler = SIG_IGN;
        if (ignoresStop) ::sigaction(SIGTERM, &ignore, &saved);
        children.push_back(std::make_unique<ChildProcess>(
            testing::copyExecutable(testing::idleChildProgram(), folder, name), std::move(arguments), folder));
        if (ignoresStop) ::sigaction(SIGTERM, &saved, nullptr);
        return children.back().get();
    };
    // Listed by footprint: the one that ends, the unrelated one, the stubborn one.
    auto* ending = startIn("zq-twosel-ending", {"--touch", "96"}, false);
    auto* unrelated = startIn("zq-twosel-unrelated", {"--touch", "48"}, false);
    auto* stubborn = startIn("zq-twosel-stubborn", {}, true);
    find("zq-twosel", stubborn->pid());
    const auto groupOf = [&](const ChildProcess* child) {
        for (const auto& group : model().visible())
            for (const auto& member : group.members)
                if (member.pid == child->pid()) return group.id;
        return std::string();
    };
    const auto listed = [&] {
        std::vector<std::string> ids;
        for (int i = 0; i < rows().rowCount(); ++i) ids.push_back(rows().row(i).id);
        return ids;
    };
    const auto wanted = [&] { return std::vector{groupOf(ending), groupOf(unrelated), groupOf(stubborn)}; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed() == wanted(); }, 30'000))
        << ::testing::PrintToString(listed()) << " for " << ::testing::PrintToString(wanted());
    const auto stubbornGroup = groupOf(stubborn);

    ASSERT_TRUE(activate(app->mainWindow()));
    ASSERT_TRUE(tabTo(list()));
    QTest::keyClick(&list(), Qt::Key_Home);
    QTest::keyClick(&list(), Qt::Key_Space);
    QTest::keyClick(&list(), Qt::Key_End);
    ASSERT_EQ(rows().row(list().currentIndex().row()).id, stubbornGroup);
    QTest::keyClick(&list(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shelf().headlineText().startsWith("2 selected \u00b7 "); }, 5'000));

    auto* shown = openSheetFromKeyboard(shelf().stopButton());
    ASSERT_NE(shown, nullptr);
    QTest::keyClick(&shown->cancelButton(), Qt::Key_Tab);
    QTest::keyClick(&shown->confirmButton(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() == nullptr; }, 10'000));
    ASSERT_TRUE(ending->waitFor(10s));
    waitForOutcome();
    ASSERT_TRUE(activate(app->mainWindow()));
    settle();
    ASSERT_EQ(listed(), (std::vector{groupOf(unrelated), stubbornGroup}));
    EXPECT_EQ(QApplication::focusWidget(), &list());
    ASSERT_TRUE(list().currentIndex().isValid());
    EXPECT_EQ(rows().row(list().currentIndex().row()).id, stubbornGroup) << "the group still selected";
    EXPECT_GT(rowRingStrength(list(), list().currentIndex().row()), 40);
    screenshot("10-focus-after-one-of-two-stopped");
}

TEST_F(StopRoadWindow, AProtectedGroupCannotBeSelected)
{
    auto& child = start("wireplumber");
    model().setShowProtectedProcesses(true);
    const int row = find("wireplumber", child.pid());
    clickGlyph(row);
    EXPECT_TRUE(model().selected().empty());
    EXPECT_EQ(shelf().headlineText(), "Ready when you are");
    EXPECT_FALSE(shelf().stopButton().isEnabled());
    screenshot("6-protected");
    EXPECT_TRUE(child.running());
}

}  // namespace
}  // namespace corvalent
