// The real application window driven from the keyboard alone: a reviewed
// item goes to the Trash of a home of the test's own and comes back, the
// sheet's Cancel shows its ring at once, Return never moves anything, and
// Tab meets the section switch before each page's own controls; when the
// focused control goes away, the focus stays near it.
#include <gtest/gtest.h>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "keyboard_walk.h"
#include "models/background_task.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

class KeyboardWindow : public ::testing::Test {
protected:
    testing::TempHome temp;
    const fs::path& home = temp.home;
    fs::path cache = home / ".npm" / "_cacache";
    std::unique_ptr<CorvalentApp> app;

    void SetUp() override
    {
        for (int i = 0; i < 4; ++i) testing::writeFile(cache / "content-v2" / ("blob" + std::to_string(i)), 300'000);
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->openMainWindow();
        ASSERT_TRUE(activate(app->mainWindow()));
    }
    void TearDown() override
    {
        app.reset();
        drainLanes();
    }

    MainView& view() { return *app->mainView(); }
    DiskView* diskPage() { return qobject_cast<DiskView*>(view().currentPage()); }
    DiskModel& model() { return view().diskModel(); }
    ReviewList& review()
    {
        return static_cast<ReviewList&>(diskPage()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    }
    CleanupRow* row(const fs::path& path)
    {
        for (auto* row : review().rows())
            if (row->candidate().path == path.string()) return row;
        return nullptr;
    }
    // To the disk page by keys, and the home folder scanned there.
    void scanOnTheDiskPage()
    {
        auto& storage = view().sectionSwitch().button(AppSection::storage);
        ASSERT_TRUE(tabTo(storage));
        QTest::keyClick(&storage, Qt::Key_Space);
        ASSERT_NE(diskPage(), nullptr);
        model().scan(home.string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return model().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    }
    // The sheet a key opened, made the active window.
    DiskCleanupConfirmation* openedSheet()
    {
        DiskCleanupConfirmation* sheet = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    return (sheet = qobject_cast<DiskCleanupConfirmation*>(diskPage()->confirmationSheet())) != nullptr;
                },
                10'000))
            return nullptr;
        return activate(*sheet) ? sheet : nullptr;
    }
    // On a display, the whole screen: the sheet over its window.
    void shot(const QString& name)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        const QString path = QString(CORVALENT_SCREENSHOTS) + "/keyboard-window-" + name + ".png";
        auto* shown = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &app->mainWindow();
        if (QGuiApplication::platformName() == "xcb")
            EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path));
        else
            EXPECT_TRUE(shown->grab().save(path));
    }
};

TEST_F(KeyboardWindow, AReviewedItemGoesToTheTrashAndComesBackWithoutAPointer)
{
    // To the disk page and its review list by keys; the scan itself is the model's.
    ASSERT_NO_FATAL_FAILURE(scanOnTheDiskPage());
    auto& picker = diskPage()->mapPanel().sidebar().picker();
    ASSERT_TRUE(tabTo(*picker.segment(0)));
    QTest::keyClick(picker.segment(0), Qt::Key_Right);
    ASSERT_EQ(diskPage()->state().sidebarMode(), DiskSidebarMode::cleanup);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(cache) != nullptr; }, 20'000));

    ASSERT_TRUE(tabTo(row(cache)->reviewButton()));
    QTest::keyClick(&row(cache)->reviewButton(), Qt::Key_Space);
    auto* sheet = openedSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().isEnabled(); }, 10'000));
    EXPECT_EQ(QApplication::focusWidget(), &sheet->cancelButton());
    EXPECT_GT(ringStrength(sheet->cancelButton()), 40) << "opened by Space: Cancel shows its ring at once";
    shot("trash-sheet");

    QTest::keyClick(&sheet->cancelButton(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), &sheet->moveButton()) << "Tab reaches the move";
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(&sheet->moveButton(), key);
    drainLanes();
    settle();
    EXPECT_EQ(diskPage()->confirmationSheet(), sheet) << "Return neither moves nor closes";
    EXPECT_TRUE(fs::exists(cache));
    EXPECT_TRUE(model().recentTrash().empty());
    shot("trash-sheet-move-focused");

    QTest::keyClick(&sheet->moveButton(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return diskPage()->confirmationSheet() == nullptr; }, 20'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model().cleanupInProgress(); }, 20'000));
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_TRUE(fs::exists(temp.trash() / "files" / "_cacache" / "content-v2" / "blob2"));

    // Back in the window, Undo is reached and pressed the same way.
    ASSERT_TRUE(activate(app->mainWindow()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !review().recentTrashCard().undoButtons().empty(); }, 10'000));
    auto& undo = *review().recentTrashCard().undoButtons().front();
    ASSERT_TRUE(tabTo(undo));
    QTest::keyClick(&undo, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(cache / "content-v2" / "blob2"); }, 20'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model().cleanupInProgress(); }, 20'000));
    EXPECT_EQ(fs::file_size(cache / "content-v2" / "blob2"), 300'000U);
    EXPECT_FALSE(fs::exists(temp.trash() / "info" / "_cacache.trashinfo"));
}

// A folder row's Space leads into the folder and onto its first row; a move
// to the Trash leads to the next card's action, and from the last card to
// its Undo. Each time the focus is on a named control in sight, with its ring.
TEST_F(KeyboardWindow, WhenTheFocusedControlGoesTheFocusStaysNearIt)
{
    testing::writeFile(home / ".cache" / "app" / "blob", 3'000'000);
    ASSERT_NO_FATAL_FAILURE(scanOnTheDiskPage());
    settle();
    auto& sidebar = diskPage()->mapPanel().sidebar();

    DiskBreakdownRow* folder = nullptr;
    for (auto* row : sidebar.breakdownRows())
        if (row->accessibleName().startsWith(".cache, ")) folder = row;
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(tabTo(*folder));
    QTest::keyClick(folder, Qt::Key_Space);
    ASSERT_EQ(sidebar.title(), ".cache");
    ASSERT_FALSE(sidebar.breakdownRows().empty());
    settle();
    EXPECT_EQ(QApplication::focusWidget(), sidebar.breakdownRows().front()) << "into the folder, on its first row";
    EXPECT_EQ(focusFault(), "");
    shot("focus-after-drill-down");

    auto& picker = sidebar.picker();
    ASSERT_TRUE(tabTo(*picker.segment(0)));
    QTest::keyClick(picker.segment(0), Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitFor([&] { return review().rows().size() == 2; }, 20'000));
    auto* first = review().rows().front();
    auto* second = review().rows().back();
    ASSERT_TRUE(tabTo(first->reviewButton()));
    for (auto* expected : {static_cast<QWidget*>(&second->reviewButton()), static_cast<QWidget*>(nullptr)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        auto* sheet = openedSheet();
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().isEnabled(); }, 10'000));
        QTest::keyClick(&sheet->cancelButton(), Qt::Key_Tab);
        QTest::keyClick(&sheet->moveButton(), Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return diskPage()->confirmationSheet() == nullptr; }, 20'000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model().cleanupInProgress(); }, 20'000));
        ASSERT_TRUE(activate(app->mainWindow()));
        settle();
        const bool last = expected == nullptr;
        if (last) {
            ASSERT_TRUE(review().rows().empty());
            ASSERT_FALSE(review().recentTrashCard().undoButtons().empty());
            expected = review().recentTrashCard().undoButtons().front();
        }
        EXPECT_EQ(QApplication::focusWidget(), expected);
        EXPECT_EQ(focusFault(), "");
        EXPECT_GT(ringStrength(*expected), 40) << "a key led here: the ring shows";
        shot(last ? "focus-after-last-move" : "focus-after-move");
    }
    EXPECT_EQ(model().recentTrash().size(), 2U);
}

// From a window with nothing focused, Tab meets both section buttons first,
// then the page; the page's last control leads back to the switch. A scroll
// area on the way stops Tab only with its ring.
TEST_F(KeyboardWindow, TheSectionSwitchComesBeforeEachPagesControls)
{
    auto& processes = view().sectionSwitch().button(AppSection::processes);
    auto& storage = view().sectionSwitch().button(AppSection::storage);
    for (const auto section :
         {std::optional<AppSection>(), std::optional(AppSection::processes), std::optional(AppSection::storage)}) {
        const auto where = section ? sectionTitle(*section).toStdString() : std::string("overview");
        view().setSection(section);
        if (section == AppSection::storage) {
            model().scan(home.string());
            ASSERT_TRUE(QTest::qWaitFor([&] { return model().status().kind == DiskModelStatus::Kind::ready; }, 60'000));
        }
        if (section == AppSection::processes) {
            // A group in the inspector, so its details are on the road too.
            ASSERT_TRUE(QTest::qWaitFor([&] { return !app->model().visible().empty(); }, 30'000));
            app->model().setFocused(app->model().visible().front().id);
        }
        settle();
        ASSERT_TRUE(activate(app->mainWindow())) << where;
        if (auto* focused = QApplication::focusWidget()) focused->clearFocus();
        QTest::keyClick(&app->mainWindow(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), &processes) << where;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), &storage) << where;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* first = QApplication::focusWidget();
        ASSERT_NE(first, nullptr) << where;
        EXPECT_TRUE(view().currentPage()->isAncestorOf(first)) << where << ": the page follows the switch";

        int controls = 1;
        while (controls < 400) {
            if (qobject_cast<QAbstractScrollArea*>(QApplication::focusWidget()) != nullptr) {
                EXPECT_EQ(focusFault(), "") << where;
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (!view().currentPage()->isAncestorOf(QApplication::focusWidget())) break;
            ++controls;
        }
        EXPECT_EQ(QApplication::focusWidget(), &processes) << where << ": after " << controls << " page controls";
        QTest::keyClick(&processes, Qt::Key_Backtab);
        EXPECT_TRUE(view().currentPage()->isAncestorOf(QApplication::focusWidget())) << where;
    }
}

}  // namespace
}  // namespace corvalent
