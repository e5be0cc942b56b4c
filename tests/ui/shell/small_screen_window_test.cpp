// The main window on the screen the test runs on, framed by a real window
// manager (openbox): the whole frame lies inside the screen's
// available area, the window keeps its usual size where that fits, the
// process list keeps five rows above the selection shelf, and the disk page's
// sidebar keeps two review cards. ctest runs this once per screen size.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <memory>
#include <ostream>

#include "framed_app.h"
#include "live_environments.h"
#include "models/disk_model.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/map/sunburst_map.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/shell/main_window_size.h"
#include "ui/shell/tray_menu.h"
#include "ui/widgets/app_style.h"
#include "ui/widgets/display_formats.h"
#include "ui_settle.h"

// Sizes read as 1180x760 in failure messages.
inline void PrintTo(const QSize& size, std::ostream* out)
{
    *out << size.width() << "x" << size.height();
}

namespace corvalent {
namespace {

using testing::ChildProcess;

class SmallScreen : public FramedAppTest {
protected:
    void TearDown() override
    {
        if (app) window().close();
        FramedAppTest::TearDown();
    }

    // Waits until the window manager has answered the window's last change:
    // its frame where the window asked it to be.
    bool framedInside()
    {
        return QTest::qWaitFor(
            [&] {
                QCoreApplication::processEvents();
                return room().contains(window().frameGeometry());
            },
            10'000);
    }
    // The whole screen, frame and all.
    void screenshot(const QString& name)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(screen().grabWindow(0).save(
            QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-%2.png").arg(screenName(), name)));
    }
};

TEST_F(SmallScreen, TheFramedWindowLiesInsideTheScreenAndCanShrinkToFit)
{
    const auto frame = window().windowHandle()->frameMargins();
    EXPECT_GT(frame.top(), frame.bottom()) << "a title bar";
    EXPECT_TRUE(framedInside()) << "window " << window().frameGeometry().width() << "x"
                                << window().frameGeometry().height() << " at " << window().frameGeometry().y()
                                << " on " << screenName().toStdString();

    const auto space = room().size().shrunkBy(frame);
    const auto usual = QSize(1180, 760);
    if (space.width() >= usual.width() && space.height() >= usual.height()) {
        EXPECT_EQ(window().size(), usual) << "the usual size where it fits";
        EXPECT_EQ(window().minimumSize(), QSize(920, 620));
    } else {
        EXPECT_EQ(window().size(), usual.boundedTo(space)) << "as large as the screen leaves room for";
        EXPECT_EQ(window().minimumSize(), QSize(920, 620).boundedTo(space));
    }

    // Shrunk to its least, it still fits, and stays where it was put.
    window().resize(window().minimumSize());
    EXPECT_TRUE(framedInside());
}

// A window asked to open partly off the screen is brought back once framed.
TEST_F(SmallScreen, AWindowOpenedPartlyOffTheScreenComesBackInside)
{
    window().close();
    app = std::make_unique<CorvalentApp>();
    const auto area = screen().availableGeometry();
    window().move(area.right() - 300, area.bottom() - 200);
    app->openMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().windowHandle()->frameMargins().isNull(); }, 10'000));
    EXPECT_TRUE(framedInside()) << "window at " << window().frameGeometry().x() << "," << window().frameGeometry().y();
}

// No tray shows the tray menu here (openbox alone): the window's own menu
// carries its figures and the Appearance choice, live, beside Settings… and
// Quit; View keeps Refresh.
TEST_F(SmallScreen, WithoutATrayTheMenuBarCarriesTheTrayMenusRows)
{
    app->createTrayMenu();
    ASSERT_FALSE(app->trayMenu()->hasTrayIcon()) << "a tray shows here";
    auto* bar = window().menuBar();
    QStringList titles;
    for (auto* menu : bar->actions()) titles << menu->text();
    ASSERT_EQ(titles, (QStringList{"&Corvalent", "&View"}));
    auto& menu = *bar->actions()[0]->menu();
    const auto rows = [&] {
        QStringList texts;
        for (const auto* row : menu.actions()) texts << (row->isSeparator() ? QStringLiteral("—") : row->text());
        return texts;
    };
    const auto tray = app->trayMenu()->menu().actions();
    EXPECT_EQ(menu.actions()[0], tray[0]) << "the tray's own rows, not copies";
    EXPECT_EQ(menu.actions()[1], tray[1]);
    EXPECT_EQ(bar->actions()[1]->menu()->actions(), QList<QAction*>{&app->refreshAction()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rows()[0].endsWith("Unavailable"); }, 10'000)) << "the first sample";
    EXPECT_EQ(rows()[0], QStringLiteral("Memory pressure: ") + memoryPressureText(app->model().pressure()));
    EXPECT_EQ(rows().mid(1), (QStringList{QStringLiteral("Swap in use: ") + app->model().swap(), "—", "Settings…",
                                          "Appearance", "—", "Quit Corvalent"}));

    auto* appearances = menu.actions()[4];
    ASSERT_NE(appearances->menu(), nullptr);
    auto& choices = *appearances->menu();
    // The program's own look for the two menus, for the pictures; the rest
    // of the suite keeps the tests' style.
    AppStyle look;
    struct OwnLook {
        QMenu &menu, &choices;
        ~OwnLook() { menu.setStyle(nullptr), choices.setStyle(nullptr); }
    } ownLook{menu, choices};
    menu.setStyle(&look);
    choices.setStyle(&look);
    for (const auto appearance : {AppAppearance::light, AppAppearance::dark}) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions()[0]).center());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        menu.setActiveAction(appearances);
        ASSERT_TRUE(QTest::qWaitFor([&] { return choices.isVisible(); }, 5'000));
        EXPECT_TRUE(room().contains(menu.geometry()) && room().contains(choices.geometry()));
        auto* choice = app->trayMenu()->appearanceAction(appearance);
        QTest::mouseClick(&choices, Qt::LeftButton, {}, choices.actionGeometry(choice).center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !menu.isVisible(); }, 5'000)) << "a choice closes the menu";
        EXPECT_EQ(storedAppearance(), appearance);
        EXPECT_TRUE(choice->isChecked());
        // Open again, for people to look at in the chosen appearance.
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions()[0]).center());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        menu.setActiveAction(appearances);
        ASSERT_TRUE(QTest::qWaitFor([&] { return choices.isVisible(); }, 5'000));
        screenshot(appearance == AppAppearance::dark ? "menu-bar-dark" : "menu-bar-light");
        menu.hide();
    }
}

TEST_F(SmallScreen, TheProcessListKeepsFiveRowsOnScreenAboveTheShelf)
{
    // Enough groups to fill five rows whatever else runs.
    const auto bin = testing::tempDirUnderHome();
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 1; i <= 6; ++i) {
        const auto name = "zq-screen-" + std::to_string(i);
        children.push_back(std::make_unique<ChildProcess>(
            testing::copyExecutable(testing::idleChildProgram(), bin.path(), name), std::vector<std::string>{},
            bin.path()));
    }
    app->mainView()->setSection(AppSection::processes);
    auto* page = qobject_cast<ProcessPage*>(app->mainView()->currentPage());
    ASSERT_NE(page, nullptr);
    auto& list = page->listPane().list();
    const auto listsChildren = [](ProcessListView& rows) {
        int listed = 0;
        for (int row = 0; row < rows.rows().rowCount(); ++row)
            if (rows.rows().row(row).titleText().startsWith("zq-screen-")) ++listed;
        return listed == 6;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return listsChildren(list); }, 30'000));
    ASSERT_TRUE(framedInside());
    settle();

    // Rows whole within the list's own area and the screen's, above the shelf.
    const QRect shown(list.viewport()->mapToGlobal(QPoint(0, 0)), list.viewport()->size());
    const auto shelfTop = page->shelf().mapToGlobal(QPoint(0, 0)).y();
    const auto seen = shown.intersected(room()).intersected(QRect(shown.left(), shown.top(), shown.width(),
                                                                  shelfTop - shown.top()));
    int rows = 0;
    for (int row = 0; row < list.rows().rowCount(); ++row) {
        const auto area =
            list.rowDelegate().rowRect(list.visualRect(list.rows().index(row)), row).toAlignedRect();
        if (seen.contains(QRect(list.viewport()->mapToGlobal(area.topLeft()), area.size()))) ++rows;
    }
    // The list keeps five rows above the shelf, at the usual size too: the
    // parts above it fold on the page's own height.
    EXPECT_GE(rows, 5) << "on " << screenName().toStdString() << ", " << page->foldedParts() << " parts folded";

    // The search field stays on screen, however much gives way.
    auto& search = page->listPane().searchField();
    EXPECT_TRUE(search.isVisible());
    EXPECT_TRUE(room().contains(QRect(search.mapToGlobal(QPoint(0, 0)), search.size())));

    for (const auto& [name, appearance] :
         {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
        applyAppearance(appearance);
        app->mainView()->setSection(std::nullopt);
        settle();
        screenshot(QStringLiteral("overview-%1").arg(name));
        app->mainView()->setSection(AppSection::processes);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            auto* shown = qobject_cast<ProcessPage*>(app->mainView()->currentPage());
            return shown != nullptr && listsChildren(shown->listPane().list());
        }, 30'000));
        screenshot(QStringLiteral("processes-%1").arg(name));
    }
}

TEST_F(SmallScreen, TheDiskSidebarKeepsTwoReviewCardsAndTheMapItsCentreLabel)
{
    // A home with something to review: a package cache, an app cache, an
    // archive and three copies of one photo. Under the account's home, which
    // this test has to itself: any process of the machine working in /tmp
    // would otherwise claim the tree as running work, and add a card.
    testing::TempHome temp(testing::accountHome());
    for (int i = 0; i < 6; ++i)
        testing::writeFile(temp.home / ".npm" / "_cacache" / "content-v2" / ("blob" + std::to_string(i)), 300'000);
    testing::writeFile(temp.home / ".cache" / "thumbnails" / "large.bin", 4'000'000);
    testing::writeFile(temp.home / "archives" / "old-backup.tar", 6'000'000);
    for (const auto* name : {"a.raw", "b.raw", "c.raw"}) testing::writeFile(temp.home / "photos" / name, 3'000'000);

    app->mainView()->setSection(AppSection::storage);
    auto* page = qobject_cast<DiskView*>(app->mainView()->currentPage());
    ASSERT_NE(page, nullptr);
    auto& model = app->mainView()->diskModel();
    model.scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    page->state().setSidebarMode(DiskSidebarMode::cleanup);
    auto& sidebar = page->mapPanel().sidebar();
    auto& review = static_cast<ReviewList&>(sidebar.modeContent(DiskSidebarMode::cleanup));
    ASSERT_TRUE(QTest::qWaitFor([&] { return review.rows().size() >= 2 && !model.cleanupInProgress(); }, 30'000));
    // The capacity comes with the volume list, which waits a while for a disk that does not answer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.capacity().has_value(); }, 30'000));
    ASSERT_TRUE(framedInside());
    settle();

    // Cards whole within the list's scrolling area and the screen.
    auto* list = review.parentWidget();
    const auto seen = QRect(list->mapToGlobal(QPoint(0, 0)), list->size()).intersected(room());
    int cards = 0;
    for (auto* card : review.shownSlots())
        if (seen.contains(QRect(card->mapToGlobal(QPoint(0, 0)), card->size()))) ++cards;
    EXPECT_GE(cards, 2) << "on " << screenName().toStdString() << ", list " << seen.height() << " px high";
    if (window().size() == QSize(1180, 760)) {
        EXPECT_EQ(page->foldedParts(), 0) << "as drawn at the usual size";
    }

    // Every figure of the capacity card whole on screen, compact in a short window.
    QStringList figures;
    for (auto* figure : page->findChildren<QWidget*>("capacityFigure")) {
        if (!figure->isVisible()) continue;
        figures << figure->accessibleName();
        EXPECT_TRUE(QRegion(figure->rect()).subtracted(figure->visibleRegion()).isEmpty())
            << figure->accessibleName().toStdString() << " cut off on " << screenName().toStdString();
        EXPECT_TRUE(room().contains(QRect(figure->mapToGlobal(QPoint(0, 0)), figure->size())));
    }
    for (const auto* caption : {"USABLE", "FREE NOW", "CAPACITY"})
        EXPECT_TRUE(figures.contains(caption)) << caption << " on " << screenName().toStdString();

    // Every line of the centre label lies within its disc, inside the inner ring.
    auto& map = page->mapPanel().map();
    ASSERT_NE(map.centreNode(), nullptr);
    const auto geometry = SunburstGeometry::of(map.width(), map.height());
    const auto label = SunburstPainting::centreLabelLayout(*map.centreNode(), map.centreDetail(), geometry);
    EXPECT_LE(label.disc.width() / 2, geometry.innerRadius);
    const auto inDisc = [&](const QRectF& line) {
        for (const auto corner : {line.topLeft(), line.topRight(), line.bottomLeft(), line.bottomRight()})
            if (std::hypot(corner.x() - label.disc.center().x(), corner.y() - label.disc.center().y()) >
                label.disc.width() / 2)
                return false;
        return true;
    };
    for (const auto& line : {label.symbol, label.name, label.detail})
        EXPECT_TRUE(inDisc(line)) << "map " << map.width() << "x" << map.height() << " on "
                                  << screenName().toStdString();

    for (const auto& [name, appearance] :
         {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
        applyAppearance(appearance);
        settle();
        screenshot(QStringLiteral("disk-review-%1").arg(name));
    }
    page->state().setSidebarMode(DiskSidebarMode::breakdown);
    screenshot(QStringLiteral("disk-map-dark"));
}

}  // namespace
}  // namespace corvalent
