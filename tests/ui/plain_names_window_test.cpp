// A process and files named like markup, through every page, the tooltips
// and the sheets of the real window: each shows the name exactly as it is.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <QToolTip>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "models/background_task.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "plain_text_check.h"
#include "test_support.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/review_list.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/process_page.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

const std::string markup = "zqx<b>bold<i>";
const QString name = QString::fromStdString(markup);
const QString marker = QStringLiteral("zqx");

void writeRandom(const fs::path& file, std::size_t bytes, unsigned seed)
{
    fs::create_directories(file.parent_path());
    std::mt19937 random(seed);
    std::string text(bytes, '\0');
    for (auto& c : text) c = static_cast<char>(random());
    std::ofstream(file, std::ios::binary) << text;
}

class PlainNamesWindow : public ::testing::Test {
protected:
    // Under the account's home, where a program the user runs may be stopped.
    testing::TempDir home = testing::tempDirUnderHome();
    testing::ScopedVariable homeVariable{"HOME", home.path().string()};
    testing::ScopedVariable dataVariable{"XDG_DATA_HOME", (home.path() / ".local" / "share").string()};
    fs::path folder = home.path() / markup;
    fs::path file = folder / (markup + ".bin");
    std::unique_ptr<testing::ChildProcess> child;
    std::unique_ptr<CorvalentApp> app;

    void SetUp() override
    {
        writeRandom(file, 6'000'000, 1);
        for (const auto* copy : {"a", "b"}) writeRandom(home.path() / copy / (markup + ".raw"), 11'000'000, 2);
        const auto project = home.path() / "project";
        fs::create_directories(project);
        const auto program = testing::copyExecutable(testing::idleChildProgram(), project, markup);
        child = std::make_unique<testing::ChildProcess>(program, std::vector<std::string>{"--touch", "32"}, project);

        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->openMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    }
    void TearDown() override
    {
        app.reset();
        drainLanes();
    }

    MainView& view() { return *app->mainView(); }
    void showSection(AppSection section)
    {
        if (view().section() != section) QTest::mouseClick(&view().sectionSwitch().button(section), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view().section() == section; }, 5'000));
    }
    // The window and any sheet on it, each label, tooltip and reader's text.
    int shownLiterally()
    {
        QCoreApplication::processEvents();
        expectNamedScrollAreas(app->mainWindow());
        return expectShownLiterally(app->mainWindow(), name, marker);
    }
    QDialog* openedSheet()
    {
        QDialog* sheet = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return (sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget())) != nullptr; }, 10'000));
        return sheet;
    }
    void close(QDialog* sheet)
    {
        QTest::keyClick(sheet, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == nullptr; }, 5'000));
    }
    void shot(const QString& name)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        auto* window = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &app->mainWindow();
        EXPECT_TRUE(window->grab().save(QString(CORVALENT_SCREENSHOTS) + "/plain-names-" + name + ".png"));
    }
    // The tooltip on screen, as a person sees it.
    void shotToolTip(const QString& name)
    {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || !widget->inherits("QTipLabel")) continue;
            EXPECT_TRUE(widget->grab().save(QString(CORVALENT_SCREENSHOTS) + "/plain-names-" + name + ".png"));
        }
    }
};

TEST_F(PlainNamesWindow, AProcessNamedLikeMarkupReadsAsItIsOnTheListInspectorAndBothSheets)
{
    shownLiterally();
    showSection(AppSection::processes);
    auto* page = qobject_cast<ProcessPage*>(view().currentPage());
    ASSERT_NE(page, nullptr);
    auto& list = page->listPane().list();
    QTest::keyClicks(&page->listPane().searchField(), marker);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.rows().rowCount() == 1; }, 20'000));
    ASSERT_EQ(list.rows().row(0).titleText(), name);

    // The glyph's tooltip, which the row's painter shows.
    const auto glyph = list.rowDelegate().glyphRect(list.visualRect(list.rows().index(0)), 0).center().toPoint();
    QHelpEvent hover(QEvent::ToolTip, glyph, list.viewport()->mapToGlobal(glyph));
    QApplication::sendEvent(list.viewport(), &hover);
    ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2'000));
    EXPECT_EQ(shownText(QToolTip::text()), "Select " + name);
    shotToolTip("row-tooltip");
    QToolTip::hideText();

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, glyph);
    const auto row = list.rowDelegate().rowRect(list.visualRect(list.rows().index(0)), 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(int(row.left() + 140), int(row.center().y())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownLiterally() >= 3; }, 5'000)) << "title, member, path";
    shot("inspector");

    auto& shelf = *page->findChild<SelectionShelf*>();
    QTest::mouseClick(&shelf.stopButton(), Qt::LeftButton);
    auto* stop = openedSheet();
    ASSERT_NE(stop, nullptr);
    EXPECT_GE(expectShownLiterally(*stop, name, marker), 1);
    shot("stop-sheet");
    close(stop);

    QTest::mouseClick(&shelf.explainButton(), Qt::LeftButton);
    auto* review = openedSheet();
    ASSERT_NE(review, nullptr);
    settle();
    EXPECT_GE(expectShownLiterally(*review, name, marker), 1);
    shot("impact-sheet");
    close(review);
    EXPECT_TRUE(child->running());
}

TEST_F(PlainNamesWindow, FilesNamedLikeMarkupReadAsTheyAreInEveryListTheMapAndTheCleanupSheet)
{
    showSection(AppSection::storage);
    auto* page = qobject_cast<DiskView*>(view().currentPage());
    ASSERT_NE(page, nullptr);
    auto& model = view().diskModel();
    model.scan(home.path().string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    ASSERT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
    QCoreApplication::processEvents();

    auto& sidebar = page->mapPanel().sidebar();
    for (int mode = 0; mode < 4; ++mode) {
        QTest::mouseClick(sidebar.picker().segment(mode), Qt::LeftButton);
        const int found = shownLiterally();
        if (mode != 3) {
            EXPECT_GE(found, 1) << sidebar.picker().segment(mode)->text().toStdString();
        }
    }
    // The copies' paths on the duplicate card once verified, with their tooltips.
    QTest::mouseClick(sidebar.picker().segment(1), Qt::LeftButton);
    auto& card = static_cast<ReviewList&>(sidebar.modeContent(DiskSidebarMode::cleanup)).duplicateCard();
    ASSERT_FALSE(card.groupBlocks().empty());
    card.groupBlocks().front()->verifyButton().click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 30'000));
    EXPECT_GE(shownLiterally(), 4) << "both paths and their tooltips";
    shot("review");
    for (auto* label : card.findChildren<QLabel*>())
        if (label->toolTip().contains(marker)) {
            QToolTip::showText(label->mapToGlobal(QPoint()), label->toolTip(), label);
            shotToolTip("path-tooltip");
            QToolTip::hideText();
            break;
        }

    // The map focused on the folder: its name over the map and on the rows.
    const auto& top = model.result()->root.children;
    const auto named = std::find_if(top.begin(), top.end(), [](const DiskNode& node) { return node.name == markup; });
    ASSERT_NE(named, top.end());
    page->state().setFocusedNodeID(named->id);
    QTest::mouseClick(sidebar.picker().segment(0), Qt::LeftButton);
    EXPECT_GE(shownLiterally(), 2);
    shot("map");

    page->state().setCleanupCandidate(model.cleanupCandidate(file.string(), testing::allocatedBytes(file), false));
    auto* sheet = openedSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_GE(expectShownLiterally(*sheet, name, marker), 1);
    shot("cleanup-sheet");
    close(sheet);

    // The overview after the scan.
    QTest::mouseClick(&view().sectionSwitch().button(AppSection::storage), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view().section(); }, 5'000));
    shownLiterally();
}

}  // namespace
}  // namespace corvalent
