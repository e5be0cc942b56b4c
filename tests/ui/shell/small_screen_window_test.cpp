// The main window on the screen the test runs on, framed by a real window
// manager (openbox, started here): the whole frame lies inside the screen's
// available area, the window keeps its usual size where that fits, and the
// process list keeps five rows. ctest runs this once per screen size.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>

#include <memory>
#include <ostream>

#include "live_environments.h"
#include "test_support.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/shell/main_window_size.h"
#include "ui_settle.h"

// Sizes read as 1180x760 in failure messages.
inline void PrintTo(const QSize& size, std::ostream* out)
{
    *out << size.width() << "x" << size.height();
}

namespace corvalent {
namespace {

using testing::ChildProcess;

class SmallScreen : public ::testing::Test {
protected:
    // One window manager for every case, ready once it frames a window.
    static void SetUpTestSuite()
    {
        if (QGuiApplication::platformName() != "xcb") return;
        const auto openbox = QStandardPaths::findExecutable("openbox");
        ASSERT_FALSE(openbox.isEmpty()) << "openbox is one of the test packages (scripts/install-deps test)";
        wmFolder = std::make_unique<testing::TempDir>();
        windowManager = std::make_unique<ChildProcess>(openbox.toStdString(), std::vector<std::string>{},
                                                       wmFolder->path());
        QWidget probe;
        probe.resize(200, 100);
        probe.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !probe.windowHandle()->frameMargins().isNull(); }, 20'000))
            << "openbox frames windows";
    }
    static void TearDownTestSuite()
    {
        windowManager.reset();
        wmFolder.reset();
    }

    void SetUp() override
    {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs a display with a window manager";
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->openMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window().windowHandle()->frameMargins().isNull(); }, 10'000));
        settle();
    }
    void TearDown() override
    {
        if (app) window().close();
        app.reset();
        drainProcessLane();
        applyAppearance(AppAppearance::light);
        QSettings().clear();
    }

    QMainWindow& window() { return app->mainWindow(); }
    QScreen& screen() { return *window().screen(); }
    QRect room() { return screen().availableGeometry(); }
    QString screenName()
    {
        return QString("%1x%2").arg(screen().geometry().width()).arg(screen().geometry().height());
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

    static inline std::unique_ptr<testing::TempDir> wmFolder;
    static inline std::unique_ptr<ChildProcess> windowManager;
    std::unique_ptr<CorvalentApp> app;
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

TEST_F(SmallScreen, TheProcessListKeepsFiveRowsOnScreen)
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

    // Rows whole within the list's own area and the screen's.
    const QRect shown(list.viewport()->mapToGlobal(QPoint(0, 0)), list.viewport()->size());
    const auto seen = shown.intersected(room());
    int rows = 0;
    for (int row = 0; row < list.rows().rowCount(); ++row) {
        const auto area =
            list.rowDelegate().rowRect(list.visualRect(list.rows().index(row)), row).toAlignedRect();
        if (seen.contains(QRect(list.viewport()->mapToGlobal(area.topLeft()), area.size()))) ++rows;
    }
    EXPECT_GE(rows, 5) << "on " << screenName().toStdString() << ", " << page->foldedParts() << " parts folded";

    // The search field stays on screen, however much gives way.
    auto& search = page->listPane().searchField();
    EXPECT_TRUE(search.isVisible());
    EXPECT_TRUE(room().contains(QRect(search.mapToGlobal(QPoint(0, 0)), search.size())));
    // At the usual size the page is as drawn: nothing folds.
    if (window().size() == QSize(1180, 760)) {
        EXPECT_EQ(page->foldedParts(), 0);
    }

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

}  // namespace
}  // namespace corvalent
