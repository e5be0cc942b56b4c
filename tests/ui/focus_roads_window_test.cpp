// Where the focus goes when the control that held it goes away or turns off,
// by keys alone in the framed main window, once per screen size: a
// verification ending, a verified copy moved to the Trash, an Undo, a scan
// stopped for its partial results, a file moved from the Files list's menu,
// a rescan, and Tab through the inspector's members.
// Each time it rests on a named control seen whole, clear of the shelf and
// of the footer below a scrolling list.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <future>

#include "framed_app.h"
#include "keyboard_walk.h"
#include "models/background_task.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "slow_mount.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/inspector/process_inspector_member.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/segmented_control.h"

namespace corvalent {
namespace {

class FocusRoads : public FramedAppTest {
protected:
    testing::TempHome temp;

    DiskModel& disk() { return app->mainView()->diskModel(); }
    DiskView& diskPage() { return *qobject_cast<DiskView*>(app->mainView()->currentPage()); }
    ReviewList& review()
    {
        return static_cast<ReviewList&>(diskPage().mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    }
    // Tab to a section's button and Space.
    void toSection(AppSection section)
    {
        auto& button = app->mainView()->sectionSwitch().button(section);
        ASSERT_TRUE(activate(window()));
        ASSERT_TRUE(tabTo(button));
        QTest::keyClick(&button, Qt::Key_Space);
    }
    // Space on a card's or copy's review, then the move on its sheet.
    void moveByKeys()
    {
        ASSERT_EQ(named(QApplication::focusWidget()), "Review\u2026");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        ASSERT_NO_FATAL_FAILURE(moveOnSheet());
    }
    // Tab to the open sheet's move and Space; back in the window once it has moved.
    void moveOnSheet()
    {
        auto* sheet = openedSheet();
        ASSERT_NE(sheet, nullptr);
        QTest::keyClick(&sheet->cancelButton(), Qt::Key_Tab);
        QTest::keyClick(&sheet->moveButton(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return diskPage().confirmationSheet() == nullptr; }, 20'000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !disk().cleanupInProgress(); }, 20'000));
        ASSERT_TRUE(activate(window()));
    }
    // The menu key on the focused row, and its Review Move to Trash by arrows and Return.
    void reviewFromMenu()
    {
        auto* row = QApplication::focusWidget();
        ASSERT_NE(dynamic_cast<LargestFileRow*>(row), nullptr) << "on " << named(row);
        bool chosen = false;
        QTimer choose;
        QObject::connect(&choose, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || !menu->isVisible()) return;
            choose.stop();
            for (int i = 0; i < 4 && (menu->activeAction() == nullptr || menu->activeAction()->text() != reviewMoveToTrash);
                 ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            chosen = menu->activeAction() != nullptr;
            QTest::keyClick(menu, Qt::Key_Return);
        });
        choose.start(20);
        QTest::keyClick(row, Qt::Key_Menu);
        ASSERT_TRUE(chosen) << "the menu offers the move";
    }
    // Opens a menu with `open`, and Escape closes it once it shows; false
    // when none opened.
    bool escapeMenu(const std::function<void()>& open)
    {
        bool opened = false;
        QTimer escape;
        QObject::connect(&escape, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || !menu->isVisible()) return;
            opened = true;
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        escape.start(20);
        open();
        return QTest::qWaitFor([&] { return opened && QApplication::activePopupWidget() == nullptr; }, 10'000);
    }
    // The sheet shown, active and ready to move.
    DiskCleanupConfirmation* openedSheet()
    {
        QDialog* sheet = nullptr;
        if (!QTest::qWaitFor([&] { return (sheet = diskPage().confirmationSheet()) != nullptr; }, 10'000) ||
            !activate(*sheet))
            return nullptr;
        auto* confirmation = static_cast<DiskCleanupConfirmation*>(sheet);
        return QTest::qWaitFor([&] { return confirmation->moveButton().isEnabled(); }, 10'000) ? confirmation : nullptr;
    }
    void expectFocusOn(QWidget* expected, const char* step)
    {
        settle();
        EXPECT_EQ(QApplication::focusWidget(), expected) << step << ": on " << named(QApplication::focusWidget());
        EXPECT_EQ(focusFault(), "") << step;
    }
    static std::string named(QWidget* widget)
    {
        const auto* readable = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
        return readable ? readable->text(QAccessible::Name).toStdString() : "nothing";
    }
    // The whole screen, in the light appearance and the dark one.
    void screenshot(const QString& name)
    {
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        for (const auto* look : {"light", "dark"}) {
            applyAppearance(look == std::string("dark") ? AppAppearance::dark : AppAppearance::light);
            settle();
            const auto scale = screen().devicePixelRatio() > 1 ? QStringLiteral("@2x") : QString();
            EXPECT_TRUE(screen().grabWindow(0).save(QStringLiteral(CORVALENT_SCREENSHOTS "/focus-roads-%1-%2-%3.png")
                                                        .arg(screenName() + scale, name, look)));
        }
        applyAppearance(AppAppearance::light);
    }
};

// Verify leads to the first copy found, and Tab and Shift+Tab meet the
// copies where they are drawn. A moved copy hands the focus to the next
// copy, the last one to the first card. An Undo hands it to the Undo now in
// its place, the last one to a card.
TEST_F(FocusRoads, VerifyMoveAndUndoKeepTheFocusNearIt)
{
    // Copies large enough to be offered as duplicates, and a cache to review.
    for (const auto* name : {"a.raw", "b.raw", "c.raw"}) testing::writeFile(temp.home / "photos" / name, 10'500'000);
    for (const auto* blob : {"blob1", "blob2", "blob3", "blob4"})
        testing::writeFile(temp.home / ".npm" / "_cacache" / "content-v2" / blob, 300'000);
    ASSERT_NO_FATAL_FAILURE(toSection(AppSection::storage));
    disk().scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return disk().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    auto& picker = diskPage().mapPanel().sidebar().picker();
    ASSERT_TRUE(tabTo(*picker.segment(0)));
    QTest::keyClick(picker.segment(0), Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !review().rows().empty() && !disk().cleanupInProgress(); }, 30'000));
    ASSERT_FALSE(review().duplicateCard().groupBlocks().empty());
    auto& group = *review().duplicateCard().groupBlocks().front();
    ASSERT_TRUE(tabTo(group.verifyButton()));
    QTest::keyClick(&group.verifyButton(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return group.action() == DuplicateGroupBlock::Action::verified; }, 30'000));
    ASSERT_EQ(group.sets().size(), 1U);
    ASSERT_EQ(group.sets().front()->rows().size(), 3U);
    expectFocusOn(group.sets().front()->rows()[0].reveal, "after Verify");
    screenshot("after-verify");

    std::vector<QWidget*> drawn;
    for (auto* button : review().findChildren<QAbstractButton*>())
        if (button->isVisible() && button->isEnabled()) drawn.push_back(button);
    std::ranges::sort(drawn, {}, [&](QWidget* button) {
        const auto at = button->mapTo(&review(), button->rect().center());
        return std::pair(at.y(), at.x());
    });
    std::vector<QWidget*> forward{drawn.front()}, backward;
    drawn.front()->setFocus(Qt::TabFocusReason);
    for (std::size_t i = 1; i < drawn.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward.push_back(QApplication::focusWidget());
    }
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        backward.insert(backward.begin(), QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    }
    EXPECT_EQ(forward, drawn) << "Tab";
    EXPECT_EQ(backward, drawn) << "Shift+Tab";

    const auto third = group.sets().front()->rows()[2].path;
    ASSERT_TRUE(tabTo(*group.sets().front()->rows()[1].review));
    ASSERT_NO_FATAL_FAILURE(moveByKeys());
    ASSERT_EQ(group.sets().front()->rows().size(), 2U);
    ASSERT_EQ(group.sets().front()->rows()[1].path, third);
    expectFocusOn(group.sets().front()->rows()[1].review, "after moving a copy");
    ASSERT_NO_FATAL_FAILURE(moveByKeys());
    expectFocusOn(&review().rows().front()->reviewButton(), "after moving the last copy");
    screenshot("after-moving-the-last-copy");

    ASSERT_TRUE(tabTo(*review().recentTrashCard().undoButtons().front()));
    for (const auto left : {1U, 0U}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return disk().recentTrash().size() == left && !disk().cleanupInProgress(); },
                                    20'000));
        // A restored item comes back as a card once the insights are in.
        ASSERT_TRUE(settleAfterJobs());
        if (left == 1) {
            expectFocusOn(review().recentTrashCard().undoButtons().front(), "after an Undo");
            continue;
        }
        EXPECT_TRUE(std::ranges::any_of(review().rows(), [](CleanupRow* row) { return row->reviewButton().hasFocus(); }))
            << "after the last Undo: on " << named(QApplication::focusWidget());
        EXPECT_EQ(focusFault(), "") << "after the last Undo";
        screenshot("after-the-last-undo");
    }
}

// Stop scan by Space leads to the partial results.
TEST_F(FocusRoads, StopScanLeadsToThePartialResults)
{
    testing::SlowTree tree;
    for (int i = 0; i < 12; ++i) tree.files.emplace_back("kept/file" + std::to_string(i), 50'000);
    tree.folders = {"kept", "slow"};  // the files' folder listed first
    tree.slowList = {"slow"};
    testing::SlowMount mount(temp.home / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    ASSERT_NO_FATAL_FAILURE(toSection(AppSection::storage));
    disk().scan(mount.path().string());
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    const auto buttons = diskPage().contentPanel(DiskView::Content::progress).findChildren<QAbstractButton*>();
    const auto stop =
        std::ranges::find(buttons, QStringLiteral("Stop scan and view partial results"), &QWidget::accessibleName);
    ASSERT_NE(stop, buttons.end());
    ASSERT_TRUE(tabTo(**stop));
    // What stopping keeps is said where it can be read: whole, in the window
    // and on the screen.
    auto* hint = diskPage().contentPanel(DiskView::Content::progress).findChild<QWidget*>("stopScanHint");
    ASSERT_NE(hint, nullptr);
    settle();
    ASSERT_TRUE(hint->isVisible());
    EXPECT_TRUE(QRegion(hint->rect()).subtracted(hint->visibleRegion()).isEmpty()) << "the hint is cut off";
    EXPECT_TRUE(room().contains(QRect(hint->mapToGlobal(QPoint(0, 0)), hint->size())));
    screenshot("stop-scan-hint");
    QTest::keyClick(*stop, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !disk().stopping(); }, 10'000));
    ASSERT_EQ(diskPage().content(), DiskView::Content::map) << "a partial result is kept";
    settle();
    EXPECT_TRUE(diskPage().mapPanel().isAncestorOf(QApplication::focusWidget()))
        << "on " << named(QApplication::focusWidget());
    EXPECT_EQ(focusFault(), "");
    screenshot("after-stop-scan");
}

// A file moved to the Trash from its row's menu in the Files list hands the
// focus to the row now in its place; a sheet cancelled gives it back to the
// row that opened it. The cleanup list's Rescan leads to the scan's stop,
// and the new map back to the list.
TEST_F(FocusRoads, AMoveFromTheFilesMenuAndARescanKeepTheFocusInTheSidebar)
{
    for (const auto* name : {"a.mkv", "b.mkv", "c.mkv"}) testing::writeFile(temp.home / "videos" / name, 4'000'000);
    ASSERT_NO_FATAL_FAILURE(toSection(AppSection::storage));
    disk().scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return disk().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    auto& sidebar = diskPage().mapPanel().sidebar();
    auto& picker = sidebar.picker();
    ASSERT_TRUE(tabTo(*picker.segment(0)));
    for (int i = 0; i < 2; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    ASSERT_EQ(diskPage().state().sidebarMode(), DiskSidebarMode::largestFiles);
    ASSERT_GE(sidebar.fileRows().size(), 3U);
    const auto third = sidebar.fileRows()[2]->path();

    // A menu that a key opened gives the row its ring back when Escape
    // closes it: the row's own, and the window's; one the pointer opened
    // does not.
    auto* row = sidebar.fileRows()[1];
    ASSERT_TRUE(tabTo(*row));
    ASSERT_TRUE(escapeMenu([&] { QTest::keyClick(row, Qt::Key_Menu); }));
    expectFocusOn(row, "after the menu key and Escape");
    EXPECT_GT(ringStrength(*row), 40) << "after the menu key and Escape";
    ASSERT_TRUE(escapeMenu([&] { QTest::keyClick(row, Qt::Key_C, Qt::AltModifier); }));
    // The menu bar keeps the keyboard until a second Escape.
    if (auto* bar = qobject_cast<QMenuBar*>(QApplication::focusWidget())) QTest::keyClick(bar, Qt::Key_Escape);
    expectFocusOn(row, "after Alt+C and Escape");
    EXPECT_GT(ringStrength(*row), 40) << "after Alt+C and Escape";
    screenshot("after-a-menu-closed-by-escape");
    ASSERT_TRUE(escapeMenu([&] {
        QTest::mouseClick(window().windowHandle(), Qt::RightButton, {}, row->mapTo(&window(), row->rect().center()));
    }));
    expectFocusOn(row, "after a right click and Escape");
    EXPECT_LT(ringStrength(*row), 20) << "after a right click and Escape";

    ASSERT_NO_FATAL_FAILURE(reviewFromMenu());
    auto* sheet = openedSheet();
    ASSERT_NE(sheet, nullptr);
    QTest::keyClick(&sheet->cancelButton(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return diskPage().confirmationSheet() == nullptr; }, 10'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &window(); }, 10'000));
    expectFocusOn(sidebar.fileRows()[1], "after Cancel");
    EXPECT_GT(ringStrength(*sidebar.fileRows()[1]), 40) << "after Cancel";

    ASSERT_NO_FATAL_FAILURE(reviewFromMenu());
    ASSERT_NO_FATAL_FAILURE(moveOnSheet());
    ASSERT_EQ(sidebar.fileRows()[1]->path(), third);
    expectFocusOn(sidebar.fileRows()[1], "after the move");
    EXPECT_GT(ringStrength(*sidebar.fileRows()[1]), 40) << "after the move";
    screenshot("after-moving-a-file");

    // The cleanup list's Rescan: its scan held in the files lane, the focus
    // on the stop while it runs, then back in the list.
    ASSERT_TRUE(tabTo(*picker.segment(static_cast<int>(DiskSidebarMode::largestFiles))));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    ASSERT_EQ(diskPage().state().sidebarMode(), DiskSidebarMode::cleanup);
    auto& rescan = review().statusCard().rescanButton();
    ASSERT_TRUE(tabTo(rescan));
    ASSERT_TRUE(settleAfterJobs());
    auto& lane = BackgroundTask::pool(TaskLane::files);
    const int threads = lane.maxThreadCount();
    lane.setMaxThreadCount(1);
    std::promise<void> release;
    lane.start([held = release.get_future().share()] { held.wait(); });
    QTest::keyClick(&rescan, Qt::Key_Space);
    ASSERT_EQ(diskPage().content(), DiskView::Content::progress);
    auto* stop = firstControlIn(diskPage().contentPanel(DiskView::Content::progress));
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->accessibleName(), "Stop scan and view partial results");
    expectFocusOn(stop, "while the rescan runs");
    EXPECT_TRUE(diskPage().state().stopActionFocused()) << "a key led there: the stop shows its focus and hint";
    screenshot("during-a-rescan");
    release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return disk().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    lane.setMaxThreadCount(threads);
    ASSERT_TRUE(settleAfterJobs());
    auto* back = QApplication::focusWidget();
    ASSERT_TRUE(review().isAncestorOf(back)) << "after the rescan: on " << named(back);
    EXPECT_EQ(focusFault(), "") << "after the rescan";
    EXPECT_GT(ringStrength(*back), 40) << "after the rescan";
    screenshot("after-a-rescan");
}

// A selected group of four in the inspector: Tab from the list meets each
// member's check box in the order they are drawn, before the shelf's
// buttons, and each one rests in sight, clear of the shelf; so does the
// last one when Shift+Tab comes back to it from the shelf.
TEST_F(FocusRoads, TabMeetsEachMemberInOrderBeforeTheShelf)
{
    const auto bin = testing::tempDirUnderHome();
    const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "zq-focus-member");
    std::vector<std::unique_ptr<testing::ChildProcess>> members;
    for (int i = 0; i < 4; ++i)
        members.push_back(std::make_unique<testing::ChildProcess>(program, std::vector<std::string>{}, bin.path()));
    ASSERT_NO_FATAL_FAILURE(toSection(AppSection::processes));
    auto& page = *qobject_cast<ProcessPage*>(app->mainView()->currentPage());
    ASSERT_TRUE(tabTo(page.listPane().searchField()));
    QTest::keyClicks(&page.listPane().searchField(), "zq-focus-member");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return app->model().visible().size() == 1 && app->model().visible().front().members.size() == 4; },
        30'000));
    auto& inspector = *page.inspector().findChild<ProcessInspector*>();
    auto& list = page.listPane().list();
    ASSERT_TRUE(tabTo(list));
    QTest::keyClick(&list, Qt::Key_Return);
    QTest::keyClick(&list, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return inspector.rows().size() == 4 && app->model().chosen().size() == 4; },
                                30'000));
    settle();

    std::vector<QWidget*> drawn;
    for (auto* row : inspector.rows()) drawn.push_back(&row->check());
    std::vector<QWidget*> met;
    for (int presses = 0; presses < 20 && !page.shelf().isAncestorOf(QApplication::focusWidget()); ++presses) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* now = QApplication::focusWidget();
        if (now == static_cast<QWidget*>(&inspector.scrollArea())) {
            EXPECT_EQ(focusFault(), "") << "the details, as they scroll";
            screenshot("inspector-details");
        }
        if (std::ranges::find(drawn, now) == drawn.end()) continue;
        met.push_back(now);
        settle();
        EXPECT_EQ(focusFault(), "") << "member " << met.size();
        if (met.size() == drawn.size()) screenshot("inspector-last-member");
    }
    EXPECT_EQ(met, drawn) << "each member, in order";
    EXPECT_TRUE(page.shelf().isAncestorOf(QApplication::focusWidget()))
        << "then the shelf: on " << named(QApplication::focusWidget());

    // The details scrolled back to their top, as a wheel would: Shift+Tab
    // from the shelf brings the last member back into view.
    inspector.scrollArea().verticalScrollBar()->setValue(0);
    settle();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), drawn.back());
    settle();
    EXPECT_EQ(focusFault(), "") << "Shift+Tab from the shelf";
}

}  // namespace
}  // namespace corvalent
