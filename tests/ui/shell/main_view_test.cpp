#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sys/wait.h>
#include <vector>

#include "live_environments.h"
#include "test_support.h"
#include "models/app_notifications.h"
#include "models/full_disk_access.h"
#include "models/vantle_model.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/disk/folders/folder_chooser_dialog.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/contrast.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

// The window with models whose inputs the test controls: a fixed process
// table and one volume.
struct Window {
    std::atomic<int> samples = 0;
    std::atomic<int> volumeLoads = 0;
    std::unique_ptr<VantleModel> model;
    std::unique_ptr<MainView> view;

    // With `introduction`, the window opens as on first use and shows it.
    explicit Window(MainView::IntroductionFactory introduction = {})
    {
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", !introduction);
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this](const ScanResult*) {
            ++samples;
            return ScanResult{};
        };
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
        auto disk = quietDiskEnvironment();
        disk.volumes = [this] {
            ++volumeLoads;
            return std::vector<DiskVolume>{{"/", "Computer", "/", DiskCapacity::make("Computer", 1000, 400), true, false}};
        };
        view = std::make_unique<MainView>(*model, std::move(disk));
        view->setIntroductionFactory(std::move(introduction));
        view->resize(1180, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitFor([this] { return volumeLoads >= 1; }, 5'000));
    }

    SectionButton& button(AppSection section) { return view->sectionSwitch().button(section); }
    void press(AppSection section) { QTest::mouseClick(&button(section), Qt::LeftButton); }
    void screenshot(const QString& name)
    {
        settle();  // the page fades in
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        view->grab().save(QString(CORVALENT_SCREENSHOTS) + "/" + name + ".png");
    }
};

TEST(MainView, SectionButtonsSwitchPagesAndTellTheModels)
{
    Window window;
    auto& view = *window.view;
    EXPECT_FALSE(view.section()) << "the overview first";
    window.screenshot("main-overview");

    window.press(AppSection::processes);
    EXPECT_EQ(view.section(), AppSection::processes);
    EXPECT_TRUE(window.model->processViewActive());
    EXPECT_FALSE(view.diskModel().viewActive());
    EXPECT_EQ(window.button(AppSection::processes).toolTip(), "Return to Overview");

    window.press(AppSection::storage);
    EXPECT_EQ(view.section(), AppSection::storage) << "straight to the other workspace";
    EXPECT_FALSE(window.model->processViewActive()) << "no sampling behind the disk workspace";
    EXPECT_TRUE(view.diskModel().viewActive());

    window.press(AppSection::storage);
    EXPECT_FALSE(view.section()) << "pressing the shown section returns to the overview";
    EXPECT_TRUE(window.model->processViewActive());
    EXPECT_FALSE(view.diskModel().viewActive());
}

QString accessibleValue(QWidget& widget)
{
    return QAccessible::queryAccessibleInterface(&widget)->text(QAccessible::Value);
}

TEST(MainView, SectionButtonsWorkFromTheKeyboardAndShowFocus)
{
    Window window;
    auto& view = *window.view;
    auto& processes = window.button(AppSection::processes);
    auto& storage = window.button(AppSection::storage);
    EXPECT_EQ(accessibleValue(processes), "Not selected");
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    for (int presses = 0; presses < 40 && !processes.hasFocus(); ++presses)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &view, Qt::Key_Tab);
    ASSERT_TRUE(processes.hasFocus()) << "Tab reaches the first section button";
    QTest::keyClick(&processes, Qt::Key_Space);
    EXPECT_EQ(view.section(), AppSection::processes);
    EXPECT_EQ(accessibleValue(processes), "Selected");
    EXPECT_EQ(accessibleValue(storage), "Not selected");

    QTest::keyClick(&processes, Qt::Key_Tab);
    ASSERT_TRUE(storage.hasFocus()) << "and the second one next";
    QTest::keyClick(&storage, Qt::Key_Return);
    EXPECT_EQ(view.section(), AppSection::storage);
    EXPECT_EQ(accessibleValue(storage), "Selected");

    // The ring's outer edge left of the focused button, clear of its plate:
    // it stands out from the track it lies on.
    const auto edge = [&] { return view.sectionSwitch().grab().toImage().pixelColor(33, 14); };
    settle();  // the plate moves across
    const auto ringed = edge();
    storage.clearFocus();
    EXPECT_GE(Contrast::ratio(ringed, edge()), 3.0) << "keyboard focus shows";

    // The ring of the button beside the plate, along the middle towards the
    // plate: its last pixel stands out from the one after it.
    const auto row = [&] {
        const auto image = view.sectionSwitch().grab().toImage();
        std::vector<QColor> colours;
        for (int x = 0; x < image.width(); ++x) colours.push_back(image.pixelColor(x, 14));
        return colours;
    };
    const auto plain = row();
    storage.setFocus(Qt::OtherFocusReason);
    QTest::keyClick(&storage, Qt::Key_Backtab);
    ASSERT_TRUE(processes.hasFocus());
    const auto beside = row();
    std::size_t last = plain.size();
    for (std::size_t x = 0; x + 1 < plain.size(); ++x)
        if (Contrast::ratio(beside[x], plain[x]) > 1.5) last = x;
    ASSERT_LT(last + 1, plain.size()) << "keyboard focus shows";
    EXPECT_GE(Contrast::ratio(beside[last], beside[last + 1]), 3.0)
        << beside[last].name().toStdString() << " on " << beside[last + 1].name().toStdString();
}

// The first-use card, with access refused so that it stays.
MainView::IntroductionFactory refusedAccessCard()
{
    return [](QWidget* parent, std::function<void()> close) -> QWidget* {
        OnboardingEnvironment environment;
        environment.probe = [] { return FullDiskAccessStatus::denied; };
        environment.verifyFresh = [] { return FullDiskAccessStatus::denied; };
        environment.openSettings = [] { return true; };
        environment.relaunch = [](const std::string&) { return std::optional<QString>(); };
        environment.exitProcess = [] {};
        return new FullDiskAccessOverlay(std::move(environment), std::move(close), parent);
    };
}

TEST(MainView, AccessCardBlocksThePageButNotTheTopBar)
{
    Window window(refusedAccessCard());
    auto& view = *window.view;
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.showsAccessIntroduction(); }, 5'000));
    auto* overlay = qobject_cast<FullDiskAccessOverlay*>(view.accessIntroduction());
    ASSERT_NE(overlay, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !overlay->card().busy() && !overlay->card().crossFading(); }, 10'000));
    auto& storage = window.button(AppSection::storage);
    const auto centre = storage.mapTo(&view, storage.rect().center());
    EXPECT_EQ(view.childAt(centre), &storage) << "the scrim leaves the top bar uncovered";
    EXPECT_FALSE(view.currentPage()->isEnabled());
    EXPECT_TRUE(storage.isEnabled());

    const QPalette palette = QApplication::palette();
    for (const auto size : {QSize(1180, 760), QSize(920, 620)}) {
        view.resize(size);
        EXPECT_EQ(QRect(overlay->mapTo(&view, QPoint(0, 0)), overlay->size()),
                  QRect(0, 44, size.width(), size.height() - 44))
            << "the page area only";
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? darkPalette() : lightPalette());
            QCoreApplication::processEvents();
            window.screenshot(QStringLiteral("main-access-card-%1x%2-%3")
                                  .arg(size.width())
                                  .arg(size.height())
                                  .arg(dark ? "dark" : "light"));
        }
    }
    QApplication::setPalette(palette);

    window.press(AppSection::storage);
    EXPECT_EQ(view.section(), AppSection::storage) << "a section change swaps the page beneath the card";
    EXPECT_FALSE(view.currentPage()->isEnabled());
    auto* below = view.childAt(20, 300);
    EXPECT_TRUE(below == overlay || overlay->isAncestorOf(below)) << "the new page lies beneath the card";
}

// The gradient is painted once, by the window, under the top bar and any
// page that draws nothing of its own.
TEST(MainView, BackdropShowsThroughTheTopBarAndEmptyPages)
{
    Window window;
    auto& view = *window.view;
    window.press(AppSection::processes);  // an empty page until the workspace is built
    window.screenshot("main-empty-page");
    const auto shown = view.grab().toImage();
    const auto colour = view.palette().color(QPalette::Window);
    const auto backdrop = HeroBackdrop::render(view.width(), colour, 1.0);
    for (const auto at : {QPoint(20, 20), QPoint(20, 200), QPoint(1100, 40)})
        EXPECT_EQ(shown.pixelColor(at), backdrop.pixelColor(at)) << at.x() << "," << at.y();
    EXPECT_EQ(shown.pixelColor(20, 400), colour) << "below the wash, the window colour";
    const auto foot = shown.pixelColor(20, HeroBackdrop::height - 1);
    EXPECT_LE(std::abs(foot.red() - colour.red()) + std::abs(foot.green() - colour.green()), 2)
        << "no edge at its foot";
}

TEST(MainView, RefreshFollowsTheSection)
{
    Window window;
    // Shows `section`, asks for a refresh and waits for what `until` names;
    // gives how many samples and volume loads it took.
    const auto refreshIn = [&](std::optional<AppSection> section, const std::atomic<int>& until) {
        window.view->setSection(section);
        drainLanes();
        settle();
        const int samples = window.samples, loads = window.volumeLoads, before = until;
        emit AppNotifications::instance().refreshRequested();
        EXPECT_TRUE(QTest::qWaitFor([&] { return until > before; }, 5'000));
        drainLanes();
        settle();
        return std::pair(window.samples > samples, window.volumeLoads > loads);
    };
    EXPECT_EQ(refreshIn(std::nullopt, window.volumeLoads), std::pair(true, true))
        << "the overview refreshes the sample, then the disks";
    EXPECT_EQ(refreshIn(AppSection::processes, window.samples), std::pair(true, false));
    EXPECT_EQ(refreshIn(AppSection::storage, window.volumeLoads), std::pair(false, true))
        << "the disk workspace refreshes only the disks";
}

TEST(MainView, SheetsFollowTheRequestAndTheReview)
{
    Window window;
    auto& model = *window.model;
    model.setRequest(StopRequest{"r", {}, {}, false});
    auto sheet = [&] { return window.view->findChild<QDialog*>(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr && sheet()->isVisible(); }, 2'000));
    QTest::keyClick(sheet(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.request().has_value(); }, 2'000)) << "Escape cancels";

    model.setImpactReview(ImpactReview{"i", {}, {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr && sheet()->isVisible(); }, 2'000));
    model.setImpactReview(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet() == nullptr || !sheet()->isVisible(); }, 2'000));
}

TEST(MainView, ApplicationCommandsAreSharedShortcuts)
{
    CorvalentApp app;
    EXPECT_EQ(app.refreshAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(app.quitAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(app.settingsAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    auto& window = app.mainWindow();
    EXPECT_EQ(window.windowTitle(), "Corvalent");
    int refreshes = 0;
    QObject::connect(&AppNotifications::instance(), &AppNotifications::refreshRequested, &window,
                     [&] { ++refreshes; });
    app.refreshAction().trigger();
    EXPECT_EQ(refreshes, 1) << "Ctrl+R posts the refresh notification once";

    // The menus open from the keyboard: F10 the first, Alt and a title's underlined letter each.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* bar = window.menuBar();
    const auto menus = bar->actions();
    ASSERT_EQ(menus.size(), 2);
    const auto opened = [&](Qt::Key key, Qt::KeyboardModifiers modifiers, QAction* menu) {
        QTest::keyClick(&window, key, modifiers);
        const bool shown = QTest::qWaitFor([&] { return menu->menu()->isVisible(); }, 5'000);
        menu->menu()->close();
        return shown && QTest::qWaitFor([&] { return !menu->menu()->isVisible(); }, 5'000);
    };
    EXPECT_TRUE(opened(Qt::Key_F10, Qt::NoModifier, menus[0]));
    EXPECT_TRUE(opened(Qt::Key_C, Qt::AltModifier, menus[0]));
    EXPECT_TRUE(opened(Qt::Key_V, Qt::AltModifier, menus[1]));
}

// A page coming in on a section change, part way through: fainter, and lower
// by what it has still to rise. A section change gives the new page that
// entrance, seen with motion on, in a run of this test program of its own.
TEST(MainView, APageComingInRisesFivePixelsAsItFadesIn)
{
    QWidget area;
    area.setAutoFillBackground(true);
    area.setPalette(QPalette(Qt::white));
    area.resize(60, 60);
    auto* page = new QWidget(&area);
    page->setAutoFillBackground(true);
    page->setPalette(QPalette(Qt::black));
    page->setGeometry(10, 10, 40, 40);
    auto* entrance = new AppMotion::RiseInEffect;
    page->setGraphicsEffect(entrance);
    const auto lightness = [&](int y) { return area.grab().toImage().pixelColor(30, y).lightness(); };

    entrance->setProgress(0.0);
    EXPECT_EQ(lightness(30), 255) << "not drawn at all yet";
    entrance->setProgress(0.4);  // 3 px still to rise, at 0.4 opacity
    EXPECT_EQ(lightness(12), 255) << "its top still lower than its place";
    EXPECT_NEAR(lightness(14), 153, 3);
    EXPECT_NEAR(lightness(30), 153, 3);
    entrance->setProgress(1.0);
    EXPECT_EQ(lightness(10), 0) << "in place, opaque";

    if (AppMotion::reduceMotion()) {
        const testing::ScopedVariable motion("CORVALENT_REDUCE_MOTION", "0");
        testing::ChildProcess run("/proc/self/exe", {"--gtest_filter=MainView.APageComingInRises*"},
                                  std::filesystem::current_path());
        const auto status = run.waitFor(std::chrono::seconds(60));
        ASSERT_TRUE(status.has_value()) << "still running a minute later";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the entrance with motion on failed";
        return;
    }
    Window window;
    window.press(AppSection::storage);
    auto* incoming = window.view->currentPage();
    EXPECT_NE(dynamic_cast<AppMotion::RiseInEffect*>(incoming->graphicsEffect()), nullptr) << "the new page rises in";
    EXPECT_TRUE(QTest::qWaitFor([&] { return incoming->graphicsEffect() == nullptr; }, 5'000)) << "and comes to rest";
}

// Ctrl+Q ends the program's event loop from every window: with a sheet over
// the main window (which shuts its shortcuts off) and from a modal dialog of
// Qt's running a loop of its own, as a folder chooser does.
TEST(MainView, CtrlQQuitsFromASheetAndFromAModalDialog)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    CorvalentApp app;
    auto& window = app.mainWindow();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto pressCtrlQ = [](QWidget* dialog) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }, 5'000));
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Q, Qt::ControlModifier);
    };
    // The program's loop; 1 when Ctrl+Q did not end it.
    const auto runUntilQuit = [] {
        QTimer unanswered;
        QObject::connect(&unanswered, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        unanswered.start(15'000);
        return QApplication::exec();
    };

    app.model().setRequest(StopRequest{"r", {}, {}, false});
    QPointer<QDialog> sheet;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (sheet = window.findChild<QDialog*>()) != nullptr; }, 5'000));
    QTimer::singleShot(0, [&] { pressCtrlQ(sheet); });
    EXPECT_EQ(runUntilQuit(), 0) << "with a sheet open";
    app.model().setRequest(std::nullopt);

    // The program's own folder chooser, with a loop of its own.
    FolderChooserDialog chooser(FullDiskAccessVerifier::programPath(), &window);
    int chooserEnded = -1;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] { pressCtrlQ(&chooser); });
        chooserEnded = chooser.exec();
    });
    EXPECT_EQ(runUntilQuit(), 0) << "with a modal dialog open";
    EXPECT_EQ(chooserEnded, QDialog::Rejected) << "its own loop ended too";
}

}  // namespace
}  // namespace corvalent
