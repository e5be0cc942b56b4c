// The main window on small and strongly scaled screens, and a sheet kept
// centred on it.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

#include "models/vantle_model.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/shell/main_window_size.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

// Rooms in logical points, as the screen reports them to the program.
TEST(MainWindowSize, TheMinimumAndTheFirstSizeFitTheRoomOfTheScreen)
{
    struct Case {
        const char* screen;
        QSize room;
        MainWindowSize expected;
    };
    const Case cases[] = {
        {"1920×1080 at 100 % with a top bar", {1920, 1048}, {{920, 620}, {1180, 760}}},
        {"1920×1080 at 200 %", {960, 540}, {{920, 540}, {960, 540}}},
        {"1366×768 at 125 %", {1092, 614}, {{920, 614}, {1092, 614}}},
        {"1280×720 at 100 %", {1280, 720}, {{920, 620}, {1180, 720}}},
        {"1080×1920 upright at 150 %", {720, 1280}, {{720, 620}, {720, 760}}},
        {"1180×760 exactly", {1180, 760}, {{920, 620}, {1180, 760}}},
        {"no screen", {}, {{920, 620}, {1180, 760}}},
    };
    for (const auto& [screen, room, expected] : cases) {
        const auto sizes = mainWindowSize(room);
        EXPECT_EQ(sizes.minimum, expected.minimum) << screen;
        EXPECT_EQ(sizes.initial, expected.initial) << screen;
    }
}

// What a screen leaves the window's contents once its frame and, on
// Wayland, a panel Qt is not told of are taken off.
TEST(MainWindowSize, TheRoomLeavesTheFrameAndOnWaylandAPanel)
{
    const QMargins openbox(1, 20, 1, 5);
    struct Case {
        const char* screen;
        QRect available;
        QRect whole;
        QMargins frame;
        const char* platform;
        QSize room;
    };
    const Case cases[] = {
        {"1366×768, openbox", {0, 0, 1366, 768}, {0, 0, 1366, 768}, openbox, "xcb", {1364, 743}},
        {"1920×1080 with a top bar, X11", {0, 32, 1920, 1048}, {0, 0, 1920, 1080}, openbox, "xcb", {1918, 1023}},
        {"1366×768, Wayland, the whole output", {0, 0, 1366, 768}, {0, 0, 1366, 768}, {0, 33, 0, 0}, "wayland",
         {1366, 687}},
        {"Wayland told of its panel", {0, 32, 1366, 736}, {0, 0, 1366, 768}, {0, 33, 0, 0}, "wayland-egl",
         {1366, 703}},
        {"no room at all", {0, 0, 20, 30}, {0, 0, 20, 30}, {0, 38, 0, 0}, "xcb", {20, 0}},
    };
    for (const auto& [screen, available, whole, frame, platform, room] : cases)
        EXPECT_EQ(windowRoom(available, whole, frame, QString::fromLatin1(platform)), room) << screen;

    // Before the window manager has said: a title bar, and none offscreen.
    EXPECT_GE(assumedFrame(u"xcb").top(), 30);
    EXPECT_GE(assumedFrame(u"wayland").top(), 30);
    EXPECT_EQ(assumedFrame(u"offscreen"), QMargins());
    // Where it fits, the window keeps its usual size even after a frame so assumed.
    const auto roomy = windowRoom({0, 27, 1920, 1053}, {0, 0, 1920, 1080}, assumedFrame(u"xcb"), u"xcb");
    EXPECT_EQ(mainWindowSize(roomy).initial, QSize(1180, 760));

    // A rectangle is moved inside an area as far as it fits, its top-left first.
    const QRect area(10, 20, 100, 50);
    EXPECT_EQ(keptInside({100, 0, 30, 20}, area), QRect(80, 20, 30, 20));
    EXPECT_EQ(keptInside({0, 60, 30, 20}, area), QRect(10, 50, 30, 20));
    EXPECT_EQ(keptInside({50, 30, 200, 80}, area), QRect(10, 20, 200, 80));
}

// The offscreen screen, 800 points wide, is narrower than the usual minimum.
TEST(MainWindowSize, TheWindowOpensWithinTheOffscreenScreen)
{
    QSettings().clear();
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    CorvalentApp app;
    auto& window = app.mainWindow();
    const auto room = window.screen()->availableGeometry();
    ASSERT_LT(room.width(), 920);
    EXPECT_EQ(window.minimumSize(), QSize(room.width(), std::min(620, room.height())));
    EXPECT_EQ(window.size(), QSize(room.width(), std::min(760, room.height())));
    app.openMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(room.contains(window.frameGeometry())) << "the whole window can be seen";

    // For people: each page, once sampled and faded in, in both palettes.
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    const auto palette = QApplication::palette();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.model().snapshot().has_value(); }, 30'000));
    for (const auto section : {std::optional<AppSection>(), std::optional(AppSection::processes)}) {
        app.mainView()->setSection(section);
        for (const auto& [name, appearance] :
             {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
            applyAppearance(appearance);
            QCoreApplication::processEvents();  // the palette reaches every widget
            ASSERT_TRUE(QTest::qWaitFor([&] { return app.mainView()->currentPage()->graphicsEffect() == nullptr; }));
            EXPECT_TRUE(window.grab().save(QStringLiteral(CORVALENT_SCREENSHOTS "/main-window-narrow-%1-%2.png")
                                               .arg(section ? "processes" : "overview", name)));
        }
    }
    applyAppearance(AppAppearance::light);
    QApplication::setPalette(palette);
    window.close();
    QSettings().clear();
}

// A sheet whose content settles after it has opened is centred on its owner
// again. A window manager that answers a move late then reports it at the
// place it was centred at before: it goes back to the latest, a few times at
// most each time it opens. A place the person moved it to is kept.
TEST(SheetFit, ASheetReportedLateAtAnEarlierCentredPlaceIsCentredAgain)
{
    QWidget owner;
    owner.setGeometry(100, 50, 600, 500);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QDialog sheet(&owner);
    QSize wanted(300, 160);
    auto* fit = new ScreenFit(sheet, [&wanted] { return wanted; });
    const auto centredAt = [&owner](QSize size) {
        QRect placed(QPoint(0, 0), size);
        placed.moveCenter(owner.frameGeometry().center());
        return placed.topLeft();
    };
    const auto placedAt = [&sheet](QPoint place) {
        return QTest::qWaitFor([&] { return sheet.geometry().topLeft() == place; }, 5'000);
    };
    // The window manager reports the sheet at `place`; the sheet answers,
    // and the platform has reported wherever that put it.
    const auto reportedAt = [&sheet](QPoint place) {
        struct Moves : QObject {
            std::vector<QPoint> seen;
            bool eventFilter(QObject*, QEvent* event) override
            {
                if (event->type() == QEvent::Move) seen.push_back(static_cast<QMoveEvent*>(event)->pos());
                return false;
            }
        } moves;
        auto* handle = sheet.windowHandle();
        handle->installEventFilter(&moves);
        sheet.setGeometry(QRect(place, sheet.size()));
        const bool arrived = QTest::qWaitFor([&] { return std::ranges::count(moves.seen, place) > 0; }, 5'000);
        const bool answered = QTest::qWaitFor(
            [&] {
                QCoreApplication::sendPostedEvents();
                return moves.seen.back() == sheet.geometry().topLeft();
            },
            5'000);
        handle->removeEventFilter(&moves);
        return arrived && answered;
    };
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    ASSERT_TRUE(settle());  // placed with its frame known
    const auto opened = centredAt(wanted);
    ASSERT_TRUE(placedAt(opened));

    wanted.setHeight(360);  // its content settled
    fit->fit();
    const auto settled = centredAt(wanted);
    ASSERT_NE(settled, opened);
    ASSERT_TRUE(placedAt(settled));

    ASSERT_TRUE(reportedAt(opened));
    EXPECT_TRUE(placedAt(settled)) << "a late answer is centred again";
    // Its content goes back to its first height: the first place is the latest again.
    wanted.setHeight(160);
    fit->fit();
    ASSERT_TRUE(placedAt(opened));
    for (int late = 2; late <= 3; ++late) {
        ASSERT_TRUE(reportedAt(settled));
        EXPECT_TRUE(placedAt(opened)) << "late answer " << late << " is centred again";
    }
    ASSERT_TRUE(reportedAt(settled));
    EXPECT_EQ(sheet.geometry().topLeft(), settled) << "a window manager that keeps it there keeps it";

    // Opened again, it is centred, and counts late answers afresh; a place
    // the person chose is no centred place.
    sheet.hide();
    sheet.show();
    ASSERT_TRUE(settle());
    ASSERT_TRUE(placedAt(opened));
    wanted.setHeight(360);
    fit->fit();
    ASSERT_TRUE(placedAt(settled));
    ASSERT_TRUE(reportedAt(opened));
    EXPECT_TRUE(placedAt(settled)) << "a late answer after opening again";
    const QPoint chosen(20, 30);
    ASSERT_TRUE(reportedAt(chosen));
    EXPECT_EQ(sheet.geometry().topLeft(), chosen);
    wanted.setHeight(300);
    fit->fit();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.size() == wanted; }, 5'000));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet.geometry().topLeft(), chosen) << "the person's place is kept";
}

}  // namespace
}  // namespace corvalent
