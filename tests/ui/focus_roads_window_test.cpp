// The focus on the roads where the control that held it goes away or turns
// off, driven by keys alone in the framed main window, once per screen size:
// a verified copy moved to the Trash, a verification ending, a scan stopped
// for its partial results, an Undo, and Tab through the inspector's members.
// Each time the focus rests on a named control a person sees whole, clear of
// the shelf and of what stands below a scrolling list.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framed_app.h"
#include "keyboard_walk.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/inspector/process_inspector_member.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

class FocusRoads : public FramedAppTest {
protected:
    testing::TempHome temp;
    const fs::path& home = temp.home;

    MainView& view() { return *app->mainView(); }
    DiskModel& disk() { return view().diskModel(); }
    DiskView* diskPage() { return qobject_cast<DiskView*>(view().currentPage()); }
    ReviewList& review()
    {
        return static_cast<ReviewList&>(diskPage()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    }
    DuplicateCard& duplicates() { return review().duplicateCard(); }

    // Three copies of a file large enough to be offered as duplicates, and a package cache to review beside them.
    void writeCopiesAndACache()
    {
        for (const auto* name : {"a.raw", "b.raw", "c.raw"}) testing::writeFile(home / "photos" / name, 10'500'000);
        for (int i = 0; i < 4; ++i)
            testing::writeFile(home / ".npm" / "_cacache" / "content-v2" / ("blob" + std::to_string(i)), 300'000);
    }
    // To the disk page by keys; the scan itself is the model's.
    void toTheDiskPage()
    {
        auto& storage = view().sectionSwitch().button(AppSection::storage);
        ASSERT_TRUE(activate(window()));
        ASSERT_TRUE(tabTo(storage));
        QTest::keyClick(&storage, Qt::Key_Space);
        ASSERT_NE(diskPage(), nullptr);
    }
    void scan(const fs::path& folder)
    {
        disk().scan(folder.string());
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return disk().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    }
    // The sidebar's Review list chosen by keys, with its cards in.
    void toTheReviewList()
    {
        auto& picker = diskPage()->mapPanel().sidebar().picker();
        ASSERT_TRUE(tabTo(*picker.segment(0)));
        QTest::keyClick(picker.segment(0), Qt::Key_Right);
        ASSERT_EQ(diskPage()->state().sidebarMode(), DiskSidebarMode::cleanup);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !review().rows().empty() && !disk().cleanupInProgress(); }, 30'000));
        settle();
    }
    // Tab and Space on a verified group's Verify, and the verification over.
    void verifyByKeys(DuplicateGroupBlock& group)
    {
        ASSERT_TRUE(tabTo(group.verifyButton()));
        QTest::keyClick(&group.verifyButton(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return group.action() == DuplicateGroupBlock::Action::verified; }, 30'000));
        settle();
    }
    // Space on `review`, Tab to the sheet's move and Space: the item moved,
    // the sheet closed and the window active again.
    void moveByKeys(QWidget& reviewButton)
    {
        ASSERT_EQ(QApplication::focusWidget(), &reviewButton);
        QTest::keyClick(&reviewButton, Qt::Key_Space);
        DiskCleanupConfirmation* sheet = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (sheet = qobject_cast<DiskCleanupConfirmation*>(diskPage()->confirmationSheet())); },
            10'000));
        ASSERT_TRUE(activate(*sheet));
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().isEnabled(); }, 10'000));
        QTest::keyClick(&sheet->cancelButton(), Qt::Key_Tab);
        QTest::keyClick(&sheet->moveButton(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return diskPage()->confirmationSheet() == nullptr; }, 20'000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !disk().cleanupInProgress(); }, 20'000));
        ASSERT_TRUE(activate(window()));
        settle();
    }
    // The focus where it should be, and where a person sees it.
    void expectFocusOn(QWidget* expected, const std::string& step)
    {
        settle();
        auto* focus = QApplication::focusWidget();
        EXPECT_EQ(focus, expected) << step << ": on " << describe(focus) << " instead of " << describe(expected);
        EXPECT_EQ(focusFault(), "") << step;
    }
    static std::string describe(QWidget* widget)
    {
        if (widget == nullptr) return "nothing";
        const auto at = widget->mapTo(widget->window(), QPoint(0, 0));
        const auto* readable = QAccessible::queryAccessibleInterface(widget);
        const auto name = readable != nullptr ? readable->text(QAccessible::Name) : QString();
        return widget->metaObject()->className() + std::string(" \"") + name.toStdString() + "\" at y " +
               std::to_string(at.y());
    }
    // The whole screen, frame and all; with `dark`, in both appearances.
    void screenshot(const QString& name, bool dark = false)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(screen().grabWindow(0).save(
            QStringLiteral(CORVALENT_SCREENSHOTS "/focus-roads-%1-%2.png").arg(screenName(), name)));
        if (!dark) return;
        applyAppearance(AppAppearance::dark);
        settle();
        EXPECT_TRUE(screen().grabWindow(0).save(
            QStringLiteral(CORVALENT_SCREENSHOTS "/focus-roads-%1-%2-dark.png").arg(screenName(), name)));
        applyAppearance(AppAppearance::light);
        settle();
    }
};

// Verify leads to the first copy it found, in view, and the copies' buttons
// are met by Tab and Shift+Tab where they are drawn. A copy moved to the
// Trash hands the focus to the next copy, the last one to the cleanup card.
TEST_F(FocusRoads, VerifyAndAVerifiedCopysMoveKeepTheFocusNearIt)
{
    writeCopiesAndACache();
    ASSERT_NO_FATAL_FAILURE(toTheDiskPage());
    ASSERT_NO_FATAL_FAILURE(scan(home));
    ASSERT_NO_FATAL_FAILURE(toTheReviewList());
    ASSERT_FALSE(duplicates().groupBlocks().empty());
    auto& group = *duplicates().groupBlocks().front();
    ASSERT_NO_FATAL_FAILURE(verifyByKeys(group));
    ASSERT_EQ(group.sets().size(), 1U);
    const auto& copies = group.sets().front()->rows();
    ASSERT_EQ(copies.size(), 3U);
    expectFocusOn(copies[0].reveal, "after Verify");
    screenshot("after-verify", true);

    // Tab and Shift+Tab walk the list's controls in the order they are drawn.
    std::vector<QWidget*> drawn;
    for (auto* button : review().findChildren<QAbstractButton*>())
        if (button->isVisible() && button->isEnabled() && (button->focusPolicy() & Qt::TabFocus) != 0)
            drawn.push_back(button);
    const auto top = [&](QWidget* widget) { return widget->mapTo(&review(), widget->rect().center()); };
    std::ranges::sort(drawn, [&](QWidget* a, QWidget* b) {
        return std::pair(top(a).y(), top(a).x()) < std::pair(top(b).y(), top(b).x());
    });
    std::vector<QWidget*> forward{drawn.front()};
    drawn.front()->setFocus(Qt::TabFocusReason);
    for (std::size_t i = 1; i < drawn.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward.push_back(QApplication::focusWidget());
    }
    std::vector<QWidget*> backward{forward.back()};
    for (std::size_t i = 1; i < drawn.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        backward.insert(backward.begin(), QApplication::focusWidget());
    }
    EXPECT_EQ(forward, drawn) << "Tab";
    EXPECT_EQ(backward, drawn) << "Shift+Tab";

    // The second copy to the Trash: on to the third; the third: on to the cache's card.
    ASSERT_TRUE(tabTo(*copies[1].review));
    const auto third = copies[2].path;
    ASSERT_NO_FATAL_FAILURE(moveByKeys(*copies[1].review));
    ASSERT_EQ(group.sets().size(), 1U);
    const auto& left = group.sets().front()->rows();
    ASSERT_EQ(left.size(), 2U);
    ASSERT_EQ(left[1].path, third);
    expectFocusOn(left[1].review, "after moving a copy");
    screenshot("after-moving-a-copy");

    ASSERT_NO_FATAL_FAILURE(moveByKeys(*left[1].review));
    ASSERT_FALSE(review().rows().empty());
    expectFocusOn(&review().rows().front()->reviewButton(), "after moving the last copy");
    screenshot("after-moving-the-last-copy", true);
}

// Stop scan by Space: the focus goes on to the partial results.
TEST_F(FocusRoads, StopScanLeadsToThePartialResults)
{
    // Declared last, so that it goes first and the scan's hung reader ends.
    testing::SlowTree tree;
    for (int i = 0; i < 12; ++i) tree.files.emplace_back("kept/file" + std::to_string(i), 50'000);
    tree.folders = {"kept", "slow"};
    tree.slowList = {"slow"};
    testing::SlowMount mount(home / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    ASSERT_NO_FATAL_FAILURE(toTheDiskPage());
    disk().scan(mount.path().string());
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    QAbstractButton* stop = nullptr;
    for (auto* button : diskPage()->contentPanel(DiskView::Content::progress).findChildren<QAbstractButton*>())
        if (button->accessibleName() == "Stop scan and view partial results") stop = button;
    ASSERT_NE(stop, nullptr);
    ASSERT_TRUE(tabTo(*stop));
    QTest::keyClick(stop, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !disk().stopping(); }, 10'000));
    ASSERT_EQ(diskPage()->content(), DiskView::Content::map) << "a partial result is kept";
    settle();
    EXPECT_TRUE(diskPage()->mapPanel().isAncestorOf(QApplication::focusWidget()))
        << "on " << describe(QApplication::focusWidget());
    EXPECT_EQ(focusFault(), "");
    screenshot("after-stop-scan", true);
}

// An Undo turns every Undo off until its restore has ended: the focus waits,
// then goes to the Undo now in its place, and after the last one to the
// first card, in view above the list's footer.
TEST_F(FocusRoads, UndoLeadsToTheNextUndoThenToTheFirstCard)
{
    writeCopiesAndACache();
    testing::writeFile(home / "archives" / "old-backup.tar", 6'000'000);
    ASSERT_NO_FATAL_FAILURE(toTheDiskPage());
    ASSERT_NO_FATAL_FAILURE(scan(home));
    ASSERT_NO_FATAL_FAILURE(toTheReviewList());
    ASSERT_TRUE(tabTo(review().rows().front()->reviewButton()));
    for (int moved = 0; moved < 2; ++moved) ASSERT_NO_FATAL_FAILURE(moveByKeys(*QApplication::focusWidget()));
    ASSERT_EQ(review().recentTrashCard().undoButtons().size(), 2U);
    ASSERT_TRUE(tabTo(*review().recentTrashCard().undoButtons().front()));
    for (const auto left : {1U, 0U}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return disk().recentTrash().size() == left && !disk().cleanupInProgress(); }, 20'000));
        if (left == 1) {
            expectFocusOn(review().recentTrashCard().undoButtons().front(), "after the first Undo");
            screenshot("after-undo");
        } else {
            // The restored item comes back as a card once the insights are in.
            ASSERT_TRUE(settleAfterJobs());
            const auto focused = std::ranges::find_if(
                review().rows(), [](CleanupRow* row) { return row->reviewButton().hasFocus(); });
            EXPECT_NE(focused, review().rows().end())
                << "after the last Undo: on " << describe(QApplication::focusWidget());
            EXPECT_EQ(focusFault(), "") << "after the last Undo";
            screenshot("after-the-last-undo", true);
        }
    }
}

// Tab through the inspector's members: each check box comes to rest above the shelf.
TEST_F(FocusRoads, TabThroughTheInspectorsMembersStaysClearOfTheShelf)
{
    const auto bin = testing::tempDirUnderHome();
    const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "zq-focus-member");
    std::vector<std::unique_ptr<testing::ChildProcess>> children;
    for (int i = 0; i < 6; ++i)
        children.push_back(std::make_unique<testing::ChildProcess>(program, std::vector<std::string>{}, bin.path()));
    auto& processes = view().sectionSwitch().button(AppSection::processes);
    ASSERT_TRUE(activate(window()));
    ASSERT_TRUE(tabTo(processes));
    QTest::keyClick(&processes, Qt::Key_Space);
    auto* page = qobject_cast<ProcessPage*>(view().currentPage());
    ASSERT_NE(page, nullptr);
    auto& search = page->listPane().searchField();
    ASSERT_TRUE(tabTo(search));
    QTest::keyClicks(&search, "zq-focus-member");
    auto& list = page->listPane().list();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.rows().rowCount() == 1 && app->model().visible().front().members.size() == 6; }, 30'000));
    ASSERT_TRUE(tabTo(list));
    QTest::keyClick(&list, Qt::Key_Return);
    auto* inspector = page->inspector().findChild<ProcessInspector*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return inspector->rows().size() == 6; }, 10'000));
    settle();
    for (auto* row : inspector->rows()) {
        ASSERT_TRUE(tabTo(row->check()));
        settle();
        EXPECT_EQ(focusFault(), "") << row->name().toStdString();
    }
    screenshot("inspector-members", true);
}

}  // namespace
}  // namespace corvalent
