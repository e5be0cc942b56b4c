// The application's shell around the main window: the appearance choice, the
// tray menu and the settings window, driven as a person would.
#include <QAccessible>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>
#include <QWindow>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <unistd.h>

#include "fresh_sample.h"
#include "models/preferences.h"
#include "models/vantle_model.h"
#include "readable_texts.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/shell/app_appearance.h"
#include "ui/disk/disk_view.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/processes/process_page.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/shell/settings_window.h"
#include "ui/shell/system_settings.h"
#include "ui/shell/tray_menu.h"
#include "ui/widgets/app_style.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/segmented_control.h"
#include "ui/widgets/switch.h"

namespace corvalent {
namespace {

const QColor lightWindow(0xF5, 0xF5, 0xF7);
const QColor darkWindow(0x1E, 0x1E, 0x1F);

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor pixel(QWidget& widget, QPoint at) { return widget.grab().toImage().pixelColor(at); }

void screenshot(QWidget& widget, const QString& name)
{
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    ASSERT_TRUE(widget.grab().save(QStringLiteral(CORVALENT_SCREENSHOTS "/") + name + ".png"));
}

// Every test starts from empty preferences, the light palette, the program's
// style and a model whose samples carry no processes; each leaves the
// application's palette and style as it found them.
class Shell : public ::testing::Test {
protected:
    Shell()
    {
        QSettings().clear();
        installAppStyle();
        QApplication::setPalette(lightPalette());
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this](const ScanResult*) {
            return ScanResult{.records = {}, .pressure = pressure, .swap = swap.load()};
        };
        environment.uptime = [] { return 1'000.0; };
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
    }
    ~Shell() override
    {
        setSystemSettingsOpenerForTesting({});
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(palette_);
        QSettings().clear();
    }

    const QPalette palette_ = QApplication::palette();
    std::atomic<MemoryPressure> pressure = MemoryPressure::normal;
    std::atomic<std::uint64_t> swap = 0;
    std::unique_ptr<VantleModel> model;
};

using AppearanceTest = Shell;
using TrayMenuTest = Shell;
using SettingsWindowTest = Shell;
using AppWindowsTest = Shell;

TEST_F(AppearanceTest, ChoosingDarkRecolorsOpenWindowsAndIsRemembered)
{
    EXPECT_EQ(storedAppearance(), AppAppearance::system);
    for (const auto* unknown : {"purple", "", "Dark", " light"})
        EXPECT_EQ(appearanceFromRaw(unknown), AppAppearance::system) << unknown;
    QWidget open;
    open.resize(60, 40);
    open.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&open));
    EXPECT_TRUE(near(pixel(open, {30, 20}), lightWindow));
    QSignalSpy announced(&Preferences::standard(), &Preferences::appearanceChanged);
    setAppearance(AppAppearance::dark);
    QCoreApplication::processEvents();  // windows take the new palette from posted events
    EXPECT_EQ(QSettings().value("appearance").toString(), "dark") << "a new reader, as after a restart";
    EXPECT_TRUE(near(pixel(open, {30, 20}), darkWindow)) << "an open window follows at once";
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(appearanceFromRaw(announced.front().front().toString()), AppAppearance::dark);
    setAppearance(AppAppearance::light);
    QCoreApplication::processEvents();
    EXPECT_EQ(storedAppearance(), AppAppearance::light);
    EXPECT_TRUE(near(pixel(open, {30, 20}), lightWindow));
    applyAppearance(AppAppearance::system);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktopPrefersDark() ? darkWindow : lightWindow);
}

TEST_F(AppearanceTest, PalettesKeepTextReadable)
{
    for (const auto& palette : {lightPalette(), darkPalette()})
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
            const auto text = palette.color(QPalette::Active, role);
            EXPECT_GT(std::abs(text.lightness() - palette.color(QPalette::Window).lightness()), 150) << role;
            EXPECT_LT(palette.color(QPalette::Disabled, role).alphaF(), text.alphaF()) << "disabled text is fainter";
        }
}

TEST_F(TrayMenuTest, RowsFollowTheSamplesAndAppearanceChoicesAreExclusive)
{
    QSettings().setValue("appearance", "light");
    QAction quit(QStringLiteral("Quit Corvalent"));
    int opened = 0;
    TrayMenu tray(*model, [&] { ++opened; }, &quit);
    auto& menu = tray.menu();
    QStringList texts;
    for (const auto* action : menu.actions()) texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(texts, (QStringList{"Memory pressure: Unavailable", "Swap in use: Unavailable", "—", "Open Corvalent",
                                  "Refresh", "Appearance", "—", "Quit Corvalent"}));
    EXPECT_EQ(menu.actions().back(), &quit) << "the application's own Quit";
    EXPECT_FALSE(menu.actions()[0]->isEnabled() || menu.actions()[1]->isEnabled()) << "figures are not commands";
    EXPECT_EQ(tray.hasTrayIcon(), QSystemTrayIcon::isSystemTrayAvailable());
    ASSERT_TRUE(sampleFromNow(*model));
    const auto figures = [&] { return menu.actions()[0]->text() + " / " + menu.actions()[1]->text(); };
    EXPECT_EQ(figures(), "Memory pressure: Normal / Swap in use: 0 MB");
    pressure = MemoryPressure::critical;
    swap = 3ULL << 30;
    menu.actions()[4]->trigger();  // Refresh takes a new sample, and the figures follow it
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 10'000));
    EXPECT_EQ(figures(), "Memory pressure: Critical / Swap in use: 3.0 GB");
    menu.actions()[3]->trigger();
    EXPECT_EQ(opened, 0) << "the window comes forward once the menu has closed";
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 2'000));
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    screenshot(menu, "tray-menu");
    menu.hide();
    auto* light = tray.appearanceAction(AppAppearance::light);
    auto* dark = tray.appearanceAction(AppAppearance::dark);
    auto* system = tray.appearanceAction(AppAppearance::system);
    ASSERT_TRUE(light && dark && system);
    EXPECT_TRUE(light->isChecked()) << "the stored value is shown";
    dark->trigger();
    EXPECT_EQ(QSettings().value("appearance").toString(), "dark");
    EXPECT_TRUE(dark->isChecked());
    EXPECT_FALSE(light->isChecked());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), darkWindow);
    setAppearance(AppAppearance::system);  // a choice made elsewhere shows here too
    EXPECT_TRUE(system->isChecked());
    EXPECT_FALSE(dark->isChecked());

    // The mark is drawn at the end of the checked row, and only there.
    setAppearance(AppAppearance::light);
    auto& choices = *menu.actions()[5]->menu();
    choices.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&choices));
    screenshot(choices, "tray-appearance-menu");
    const auto image = choices.grab().toImage();
    const auto darkestAtEnd = [&](QAction* row) {
        const auto area = choices.actionGeometry(row);
        int darkest = 255;
        for (int x = area.right() - 24; x < area.right() - 6; ++x)
            for (int y = area.top() + 3; y < area.bottom() - 3; ++y)
                darkest = std::min(darkest, image.pixelColor(x, y).lightness());
        return darkest;
    };
    EXPECT_LT(darkestAtEnd(light), 120);
    EXPECT_GT(darkestAtEnd(dark), 200);
}

TEST_F(AppearanceTest, TooltipsLookLikeTheHelpPopoversInLightAndDark)
{
    QWidget host;
    host.resize(200, 100);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    for (const auto appearance : {AppAppearance::light, AppAppearance::dark}) {
        setAppearance(appearance);
        QToolTip::showText(host.mapToGlobal(QPoint(20, 20)), QStringLiteral("Show Disk Space"), &host);
        QWidget* tip = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            for (auto* widget : QApplication::topLevelWidgets())
                if (widget->inherits("QTipLabel") && widget->isVisible()) tip = widget;
            return tip != nullptr;
        }, 2'000));
        const auto palette = appearance == AppAppearance::dark ? darkPalette() : lightPalette();
        EXPECT_TRUE(near(pixel(*tip, {4, tip->height() / 2}), CorvalentStyle::panel(palette)))
            << "the panel colour, not the platform's yellow";
        EXPECT_FALSE(tip->mask().contains(QPoint(0, 0))) << "rounded corners";
        EXPECT_TRUE(tip->mask().contains(tip->rect().center()));
        screenshot(*tip, appearance == AppAppearance::dark ? "tooltip-dark" : "tooltip-light");
        QToolTip::hideText();
    }
}

// Escape on a menu that Alt and its letter opened leaves the keyboard on the
// menu bar's title until a second Escape: the title shows the ring, 3:1 from
// the bar on either side, light and dark. A title the pointer rests on
// shows none.
TEST_F(AppearanceTest, TheMenuBarTitleTheKeyboardRestsOnShowsTheRing)
{
    for (const auto appearance : {AppAppearance::light, AppAppearance::dark}) {
        setAppearance(appearance);
        const auto ring = FocusRing::colour(appearance == AppAppearance::dark ? darkPalette() : lightPalette());
        QMainWindow window;
        auto* field = new QLineEdit;
        window.setCentralWidget(field);
        auto* bar = window.menuBar();
        bar->setNativeMenuBar(false);
        bar->addMenu(QStringLiteral("&Corvalent"))->addAction(QStringLiteral("Settings\u2026"));
        auto* viewMenu = bar->addMenu(QStringLiteral("&View"));
        viewMenu->addAction(QStringLiteral("Refresh"));
        auto* view = viewMenu->menuAction();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        const auto title = bar->actionGeometry(view);
        // Along the middle of the title, from its left edge inwards.
        const auto at = [&](const QImage& image, int x) {
            return image.pixelColor(
                (QPointF(title.left() + x, title.center().y()) * image.devicePixelRatio()).toPoint());
        };

        field->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(field, Qt::Key_V, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 2'000));
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        ASSERT_TRUE(bar->hasFocus()) << "the bar keeps the keyboard";
        ASSERT_EQ(bar->activeAction(), view);
        const auto keyed = bar->grab().toImage();
        EXPECT_TRUE(near(at(keyed, 1), ring, 8)) << at(keyed, 1).name().toStdString();
        EXPECT_GE(Contrast::ratio(at(keyed, 1), at(keyed, -1)), 3.0) << "outside";
        EXPECT_GE(Contrast::ratio(at(keyed, 1), at(keyed, 3)), 3.0) << "inside";
        screenshot(*bar, appearance == AppAppearance::dark ? "menu-bar-keyboard-dark" : "menu-bar-keyboard-light");
        QTest::keyClick(bar, Qt::Key_Escape);
        EXPECT_EQ(QApplication::focusWidget(), field);

        // The first move only enters the bar.
        QTest::mouseMove(window.windowHandle(), bar->mapTo(&window, title.center() - QPoint(0, 1)));
        QTest::mouseMove(window.windowHandle(), bar->mapTo(&window, title.center()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return bar->activeAction() == view; }, 2'000));
        EXPECT_FALSE(near(at(bar->grab().toImage(), 1), ring, 8)) << "under the pointer";
    }
}

// The real application's windows, with the access introduction already seen.
TEST_F(AppWindowsTest, OpenCorvalentRestoresTheMinimizedWindow)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    CorvalentApp app;
    auto& window = app.mainWindow();
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(256, 256)));
    app.createTrayMenu();
    QAction* open = nullptr;
    for (auto* action : app.trayMenu()->menu().actions())
        if (action->text() == "Open Corvalent") open = action;
    ASSERT_NE(open, nullptr);
    window.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.windowState().testFlag(Qt::WindowMinimized); }, 2'000));
    open->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.windowState().testFlag(Qt::WindowMinimized); }, 2'000));
    EXPECT_TRUE(window.isVisible());
    window.close();
    open->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 2'000)) << "a closed window opens again";
}

// The shell tells the process model whether the main window is on screen:
// shown and not minimised. No other window counts.
TEST_F(AppWindowsTest, TheModelIsToldWhetherTheMainWindowIsOnScreen)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    CorvalentApp app;
    auto& window = app.mainWindow();
    const auto& model = app.model();
    EXPECT_FALSE(model.windowShown());
    QWidget settings;
    settings.setWindowTitle("Settings");
    settings.show();
    EXPECT_FALSE(model.windowShown());
    app.openMainWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.windowShown(); }, 2'000));
    window.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.windowShown(); }, 2'000));
    app.openMainWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.windowShown(); }, 2'000)) << "restored";
    window.hide();
    EXPECT_FALSE(model.windowShown());
}

// "showInspector" stored from anywhere reaches the page on show; a page made
// later reads it.
TEST_F(AppWindowsTest, ThePageOnShowFollowsTheInspectorSetting)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    Preferences::standard().setShowInspector(true);
    CorvalentApp app;
    app.mainWindow();
    auto* view = app.mainView();
    ASSERT_NE(view, nullptr);
    view->setSection(AppSection::processes);
    auto* processes = qobject_cast<ProcessPage*>(view->currentPage());
    ASSERT_NE(processes, nullptr);
    EXPECT_TRUE(processes->showsInspector());
    Preferences::standard().setShowInspector(false);
    EXPECT_FALSE(processes->showsInspector());
    view->setSection(AppSection::storage);
    auto* disk = qobject_cast<DiskView*>(view->currentPage());
    ASSERT_NE(disk, nullptr);
    EXPECT_FALSE(disk->showsInspector()) << "read when made";
    Preferences::standard().setShowInspector(true);
    EXPECT_TRUE(disk->showsInspector());
}

// Documents on a share that never answers: the access card at the first
// start, the disk page and the card opened again from it, twice, ask one
// check. The share holds the process the first card started, and until it
// ends nothing starts another: each answers unavailable at once.
TEST_F(AppWindowsTest, TheAccessCardsAndTheDiskPageShareOneCheckThatADeadShareHolds)
{
    const testing::TempHome temp;
    std::optional<CorvalentApp> app;  // before the share, which goes first and lets its process end
    testing::SlowTree tree;
    tree.slowStat = tree.slowList = {"."};
    tree.neverAnswers = true;
    testing::SlowMount share(temp.home / "Documents", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();

    app.emplace();
    app->openMainWindow();
    auto* view = app->mainView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->showsAccessIntroduction(); }, 10'000));
    const auto closeCard = [](QWidget* overlay) {
        auto& card = static_cast<FullDiskAccessOverlay*>(overlay)->card();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !card.busy(); }, 30'000));
        EXPECT_EQ(card.statusLabel(), "Unable to verify access");
        auto* limited = card.button("Use limited scanning");
        ASSERT_NE(limited, nullptr);
        QTest::mouseClick(limited, Qt::LeftButton);
    };
    closeCard(view->accessIntroduction());
    ASSERT_EQ(share.slowCallsBegun(), 1U) << "the first card's check waits on the share";

    view->setSection(AppSection::storage);
    auto* disk = qobject_cast<DiskView*>(view->currentPage());
    ASSERT_NE(disk, nullptr);
    const auto checked = [disk] {
        return QTest::qWaitFor(
            [disk] { return disk->state().fullDiskAccessStatus() == FullDiskAccessStatus::unavailable; }, 30'000);
    };
    ASSERT_TRUE(checked());
    for (int again = 0; again < 2; ++again) {
        auto* review = disk->findChild<QAbstractButton*>("reviewAccess");
        ASSERT_TRUE(review != nullptr && review->isVisible());
        QTest::mouseClick(review, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([disk] { return disk->accessOverlay() != nullptr; }, 5'000));
        closeCard(disk->accessOverlay());
        ASSERT_TRUE(QTest::qWaitFor([disk] { return disk->accessOverlay() == nullptr; }, 5'000));
        ASSERT_TRUE(checked());
    }
    EXPECT_EQ(share.slowCallsBegun(), 1U) << "another check's process waits on the share as well";
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U) << "the program itself looked at the share";
}

TEST_F(AppWindowsTest, SettingsIsAChildWindowCentredOnTheMainWindowAndEscapeClosesIt)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    CorvalentApp app;
    auto& window = app.mainWindow();
    window.setGeometry(0, 0, 920, 620);  // the offscreen screen is small
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    app.settingsAction().trigger();
    QPointer<QWidget> settings = app.settingsWindow();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == settings; }, 2'000));
    EXPECT_TRUE(settings->isWindow()) << "a window of its own";
    // Readers meet both windows as windows, each named by its title.
    auto* settingsReader = QAccessible::queryAccessibleInterface(settings.data());
    EXPECT_EQ(settingsReader->role(), QAccessible::Dialog);
    EXPECT_EQ(settingsReader->text(QAccessible::Name), "Settings");
    auto* mainReader = QAccessible::queryAccessibleInterface(&window);
    EXPECT_EQ(mainReader->role(), QAccessible::Window);
    EXPECT_EQ(mainReader->text(QAccessible::Name), "Corvalent");
    // The switches people turn are check boxes whose action clicks them.
    auto* inspector =
        QAccessible::queryAccessibleInterface(&static_cast<SettingsWindow*>(settings.data())->inspectorSwitch());
    EXPECT_EQ(inspector->role(), QAccessible::CheckBox);
    EXPECT_TRUE(inspector->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    EXPECT_EQ(settings->windowHandle()->transientParent(), window.windowHandle());
    EXPECT_EQ(settings->geometry().center(), window.geometry().center());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return settings.isNull(); }, 2'000)) << "Escape closes it";
}

// From empty preferences: each control writes through, and a window opened later shows it.
TEST_F(SettingsWindowTest, ControlsWriteThroughAndAreShownAfterARestart)
{
    SettingsWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "a fixed window";
    EXPECT_TRUE(window.inspectorSwitch().isChecked()) << "the inspector shows unless turned off";
    EXPECT_TRUE(window.themeSegment(AppAppearance::system).isChecked());
    screenshot(window, "settings-light");
    EXPECT_TRUE(near(pixel(window, {3, 3}), lightWindow));
    auto& protectedSwitch = window.protectedSwitch();
    QTest::mouseClick(&protectedSwitch, Qt::LeftButton);
    EXPECT_TRUE(model->showProtectedProcesses());
    EXPECT_EQ(window.protectionSymbol(), "lock.open.fill");
    EXPECT_TRUE(QSettings().value("showProtectedProcesses").toBool());
    // The track turns teal once the knob has slid across.
    ASSERT_TRUE(QTest::qWaitFor([&] { return protectedSwitch.knobPosition() == 1.0; }, 5'000));
    EXPECT_TRUE(near(pixel(protectedSwitch, {6, 11}), CorvalentStyle::teal()));
    EXPECT_TRUE(near(pixel(protectedSwitch, {28, 11}), Qt::white)) << "the knob sits at the right";
    model->setShowProtectedProcesses(false);
    EXPECT_FALSE(protectedSwitch.isChecked());
    EXPECT_EQ(window.protectionSymbol(), "lock.shield.fill");
    ASSERT_TRUE(QTest::qWaitFor([&] { return protectedSwitch.knobPosition() == 0.0; }, 5'000));
    EXPECT_FALSE(near(pixel(protectedSwitch, {30, 11}), CorvalentStyle::teal(), 40));
    QSignalSpy locations(&Preferences::standard(), &Preferences::includePrivacyProtectedLocationsChanged);
    QSignalSpy inspector(&Preferences::standard(), &Preferences::showInspectorChanged);
    const QString limited =
        "Limited scans skip your Desktop, Documents, and Downloads folders unless you choose one directly.";
    EXPECT_EQ(window.diskAccessCaption(), limited) << "protected locations are left out unless turned on";
    EXPECT_EQ(testing::otherPlatformNames(window), QStringList()) << "the texts name what Linux has";
    window.protectedLocationsSwitch().setFocus();
    QTest::keyClick(&window.protectedLocationsSwitch(), Qt::Key_Space);
    EXPECT_TRUE(QSettings().value("includePrivacyProtectedLocations").toBool());
    EXPECT_NE(window.diskAccessCaption(), limited);
    EXPECT_EQ(testing::otherPlatformNames(window), QStringList());
    QTest::mouseClick(&window.inspectorSwitch(), Qt::LeftButton);
    EXPECT_FALSE(QSettings().value("showInspector", true).toBool());
    auto& dark = window.themeSegment(AppAppearance::dark);
    QTest::mouseClick(&dark, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(QSettings().value("appearance").toString(), "dark");
    EXPECT_TRUE(dark.isChecked());
    EXPECT_FALSE(window.themeSegment(AppAppearance::system).isChecked());
    EXPECT_TRUE(near(pixel(window, {3, 3}), darkWindow));
    EXPECT_TRUE(near(pixel(dark, {dark.width() / 2, 4}), CorvalentStyle::teal())) << "the chosen segment is teal";
    QList<QColor> secondary;
    for (const auto* label : window.findChildren<ElidedLabel*>())
        if (label->text() == "Display processes Corvalent cannot stop.") secondary << label->colour();
    EXPECT_EQ(secondary, QList<QColor>{CorvalentStyle::secondary(darkPalette())}) << "secondary texts follow too";
    screenshot(window, "settings-dark");
    SettingsWindow reopened(*model);  // as after a restart
    EXPECT_TRUE(reopened.protectedLocationsSwitch().isChecked());
    EXPECT_EQ(reopened.diskAccessCaption(), window.diskAccessCaption());
    EXPECT_FALSE(reopened.inspectorSwitch().isChecked());
    EXPECT_TRUE(reopened.themeSegment(AppAppearance::dark).isChecked());
    QTest::keyClick(&window.protectedLocationsSwitch(), Qt::Key_Space);
    EXPECT_FALSE(QSettings().value("includePrivacyProtectedLocations").toBool());
    EXPECT_EQ(window.diskAccessCaption(), limited);
    QTest::mouseClick(&window.inspectorSwitch(), Qt::LeftButton);
    EXPECT_TRUE(QSettings().value("showInspector", false).toBool());
    EXPECT_EQ(locations, (QList<QVariantList>{{true}, {false}})) << "each change is announced";
    EXPECT_EQ(inspector, (QList<QVariantList>{{false}, {true}}));
    // A choice stored elsewhere (onboarding, the access probe) shows in every open window.
    Preferences::standard().setIncludePrivacyProtectedLocations(true);
    EXPECT_TRUE(window.protectedLocationsSwitch().isChecked());
    EXPECT_TRUE(reopened.protectedLocationsSwitch().isChecked());
    EXPECT_NE(window.diskAccessCaption(), limited);
    Preferences::standard().setShowInspector(false);
    EXPECT_FALSE(window.inspectorSwitch().isChecked());
    EXPECT_FALSE(reopened.inspectorSwitch().isChecked());
    setAppearance(AppAppearance::light);  // a choice made in the tray shows here
    EXPECT_TRUE(window.themeSegment(AppAppearance::light).isChecked());
    EXPECT_FALSE(dark.isChecked());
    std::atomic<int> opened = 0;
    setSystemSettingsOpenerForTesting([&] { return ++opened > 0; });
    QTest::mouseClick(&window.fullDiskAccessButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 15'000));
    EXPECT_EQ(window.fullDiskAccessMessage().text(), QString());
    // Where nothing opens the home folder, the window says so under the button.
    setSystemSettingsOpenerForTesting([] { return false; });
    QTest::mouseClick(&window.fullDiskAccessButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.fullDiskAccessMessage().text().isEmpty(); }, 15'000));
    EXPECT_EQ(window.fullDiskAccessMessage().text(), "No file manager could open the home folder.");
    EXPECT_TRUE(window.fullDiskAccessMessage().isVisible());
    screenshot(window, "settings-open-home-failed");
    setSystemSettingsOpenerForTesting({});
}

}  // namespace
}  // namespace corvalent
