// The application's shell around the main window: the appearance choice, the
// tray menu and the settings window, driven as a person would.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>

#include "models/vantle_model.h"
#include "ui/app_appearance.h"
#include "ui/corvalent_style.h"
#include "ui/settings_window.h"
#include "ui/system_settings.h"
#include "ui/toggle_switch.h"
#include "ui/tray_menu.h"

namespace corvalent {
namespace {

const QColor lightWindow(0xF5, 0xF5, 0xF7);
const QColor darkWindow(0x1E, 0x1E, 0x1F);

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor pixel(QWidget& widget, QPoint at)
{
    return widget.grab().toImage().pixelColor(at);
}

void screenshot(QWidget& widget, const QString& name)
{
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    ASSERT_TRUE(widget.grab().save(QStringLiteral(CORVALENT_SCREENSHOTS "/") + name + ".png"));
}

// Every test starts from empty preferences and the light palette, and leaves
// the application palette as it found it.
class Shell : public ::testing::Test {
protected:
    Shell() : palette_(QApplication::palette())
    {
        QSettings().clear();
        QApplication::setPalette(lightPalette());
    }
    ~Shell() override
    {
        setSystemSettingsOpenerForTesting({});
        QApplication::setPalette(palette_);
        QSettings().clear();
    }

    // A model whose process table is a fixed, empty sample.
    std::unique_ptr<VantleModel> makeModel(std::int32_t pressure = 1, std::uint64_t swap = 0)
    {
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this, pressure, swap] {
            ++samples;
            ScanResult result;
            result.pressure = pressure;
            result.swap = swap;
            return result;
        };
        environment.uptime = [] { return 1'000.0; };
        environment.mainWindowShown = [] { return true; };
        return std::make_unique<VantleModel>(std::move(environment));
    }
    static void refreshNow(VantleModel& model)
    {
        bool done = false;
        model.refresh([&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10'000));
    }

    std::atomic<int> samples = 0;

private:
    QPalette palette_;
};

using AppearanceTest = Shell;
using TrayMenuTest = Shell;
using SettingsWindowTest = Shell;

TEST_F(AppearanceTest, RawValuesTitlesAndSymbols)
{
    for (const auto appearance : {AppAppearance::system, AppAppearance::light, AppAppearance::dark})
        EXPECT_EQ(appearanceFromRaw(rawValue(appearance)), appearance);
    EXPECT_EQ(rawValue(AppAppearance::dark), "dark");
    EXPECT_EQ(appearanceTitle(AppAppearance::system), "System");
    EXPECT_EQ(appearanceTitle(AppAppearance::light), "Light");
    EXPECT_EQ(appearanceTitle(AppAppearance::dark), "Dark");
    EXPECT_EQ(appearanceSymbol(AppAppearance::system), "circle.lefthalf.filled");
    EXPECT_EQ(appearanceSymbol(AppAppearance::light), "sun.max");
    EXPECT_EQ(appearanceSymbol(AppAppearance::dark), "moon");
    for (const auto* unknown : {"purple", "", "Dark", " light"})
        EXPECT_EQ(appearanceFromRaw(unknown), AppAppearance::system) << unknown;
}

TEST_F(AppearanceTest, StoredValueDefaultsToSystemAndIgnoresBadValues)
{
    EXPECT_EQ(storedAppearance(), AppAppearance::system);
    QSettings().setValue("appearance", "purple");
    EXPECT_EQ(storedAppearance(), AppAppearance::system);
    QSettings().setValue("appearance", "light");
    EXPECT_EQ(storedAppearance(), AppAppearance::light);
}

TEST_F(AppearanceTest, ChoosingDarkRecolorsOpenWindowsAndIsRemembered)
{
    QWidget open;
    open.resize(60, 40);
    open.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&open));
    EXPECT_TRUE(near(pixel(open, {30, 20}), lightWindow));

    QSignalSpy announced(&AppearanceNotifier::instance(), &AppearanceNotifier::appearanceChanged);
    setAppearance(AppAppearance::dark);
    QCoreApplication::processEvents();  // windows take the new palette from posted events
    {
        QSettings fresh;  // a new reader, as after a restart
        EXPECT_EQ(fresh.value("appearance").toString(), "dark");
    }
    EXPECT_EQ(storedAppearance(), AppAppearance::dark);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), darkWindow);
    EXPECT_TRUE(near(pixel(open, {30, 20}), darkWindow)) << "an open window follows at once";
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced.front().front().value<AppAppearance>(), AppAppearance::dark);

    setAppearance(AppAppearance::light);
    QCoreApplication::processEvents();
    EXPECT_EQ(QSettings().value("appearance").toString(), "light");
    EXPECT_TRUE(near(pixel(open, {30, 20}), lightWindow));

    applyAppearance(AppAppearance::system);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktopPrefersDark() ? darkWindow : lightWindow);
}

TEST_F(AppearanceTest, PalettesKeepTextReadableAndTheAccentTeal)
{
    for (const auto& palette : {lightPalette(), darkPalette()}) {
        const auto window = palette.color(QPalette::Window);
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
            const auto text = palette.color(QPalette::Active, role);
            EXPECT_GT(std::abs(text.lightness() - window.lightness()), 150) << role;
            EXPECT_LT(palette.color(QPalette::Disabled, role).alphaF(), text.alphaF()) << "disabled text is fainter";
        }
        EXPECT_EQ(palette.color(QPalette::Highlight), CorvalentStyle::teal());
        EXPECT_LT(palette.color(QPalette::PlaceholderText).alphaF(), 1.0f);
    }
    EXPECT_EQ(lightPalette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(lightPalette().color(QPalette::Text), QColor(0x1D, 0x1D, 0x1F));
    EXPECT_EQ(darkPalette().color(QPalette::Base), QColor(0x2A, 0x2A, 0x2C));
    EXPECT_EQ(darkPalette().color(QPalette::Button), QColor(0x3A, 0x3A, 0x3C));
    EXPECT_EQ(darkPalette().color(QPalette::Text), QColor(0xF2, 0xF2, 0xF7));
}

QStringList texts(const QMenu& menu)
{
    QStringList out;
    for (const auto* action : menu.actions()) out << (action->isSeparator() ? QStringLiteral("—") : action->text());
    return out;
}

TEST_F(TrayMenuTest, RowsShowTheLatestSampleAndTheCommands)
{
    auto model = makeModel(1, 0);
    QAction quit(QStringLiteral("Quit Corvalent"));
    quit.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    int opened = 0;
    TrayMenu tray(*model, [&] { ++opened; }, &quit);
    auto& menu = tray.menu();
    EXPECT_EQ(texts(menu), (QStringList{"Memory pressure: Unavailable", "Swap in use: Unavailable", "—",
                                        "Open Corvalent", "Refresh", "Appearance", "—", "Quit Corvalent"}));
    EXPECT_FALSE(menu.actions()[0]->isEnabled()) << "figures are not commands";
    EXPECT_FALSE(menu.actions()[1]->isEnabled());
    EXPECT_EQ(tray.hasTrayIcon(), QSystemTrayIcon::isSystemTrayAvailable());

    refreshNow(*model);
    EXPECT_EQ(menu.actions()[0]->text(), "Memory pressure: Normal");
    EXPECT_EQ(menu.actions()[1]->text(), "Swap in use: 0 MB");

    const int before = samples;
    menu.actions()[4]->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return samples > before; }, 10'000)) << "Refresh takes a sample";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 10'000));

    menu.actions()[3]->trigger();
    EXPECT_EQ(opened, 1);

    EXPECT_EQ(menu.actions().back(), &quit);
    EXPECT_EQ(menu.actions().back()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    screenshot(menu, "tray-menu");
    menu.hide();
}

TEST_F(TrayMenuTest, FiguresFollowNewSamples)
{
    auto model = makeModel(4, 3ULL << 30);
    TrayMenu tray(*model, {}, nullptr);
    refreshNow(*model);
    EXPECT_EQ(tray.menu().actions()[0]->text(), "Memory pressure: Critical");
    EXPECT_EQ(tray.menu().actions()[1]->text(), "Swap in use: 3.0 GB");
}

TEST_F(TrayMenuTest, AppearanceChoicesAreExclusiveAndStored)
{
    QSettings().setValue("appearance", "light");
    auto model = makeModel();
    TrayMenu tray(*model, {}, nullptr);
    auto* light = tray.appearanceAction(AppAppearance::light);
    auto* dark = tray.appearanceAction(AppAppearance::dark);
    auto* system = tray.appearanceAction(AppAppearance::system);
    ASSERT_TRUE(light && dark && system);
    EXPECT_EQ(system->text(), "System");
    EXPECT_TRUE(light->isChecked()) << "the stored value is shown";
    EXPECT_FALSE(dark->isChecked());

    dark->trigger();
    EXPECT_EQ(QSettings().value("appearance").toString(), "dark");
    EXPECT_TRUE(dark->isChecked());
    EXPECT_FALSE(light->isChecked());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), darkWindow);

    // A choice made elsewhere shows here too.
    setAppearance(AppAppearance::system);
    EXPECT_TRUE(system->isChecked());
    EXPECT_FALSE(dark->isChecked());
}

TEST_F(SettingsWindowTest, ShowsTheStoredValuesInAFixedWindow)
{
    QSettings settings;
    settings.setValue("includePrivacyProtectedLocations", true);
    settings.setValue("showInspector", false);
    settings.setValue("appearance", "dark");
    auto model = makeModel();
    SettingsWindow window(*model);
    EXPECT_EQ(window.windowTitle(), "Settings");
    EXPECT_EQ(window.size(), QSize(500, 540));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.protectedSwitch().isChecked());
    EXPECT_EQ(window.protectionSymbol(), "lock.shield.fill");
    EXPECT_TRUE(window.protectedLocationsSwitch().isChecked());
    EXPECT_FALSE(window.inspectorSwitch().isChecked());
    EXPECT_TRUE(window.themeSegment(AppAppearance::dark).isChecked());
    EXPECT_EQ(window.diskAccessCaption(), SettingsWindow::diskAccessCaption(true));

    QSettings().clear();
    SettingsWindow defaults(*model);
    EXPECT_TRUE(defaults.inspectorSwitch().isChecked()) << "the inspector shows unless turned off";
    EXPECT_FALSE(defaults.protectedLocationsSwitch().isChecked());
    EXPECT_TRUE(defaults.themeSegment(AppAppearance::system).isChecked());
}

TEST_F(SettingsWindowTest, ProtectedSwitchDrivesTheModelBothWays)
{
    auto model = makeModel();
    SettingsWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto& toggle = window.protectedSwitch();
    EXPECT_EQ(toggle.accessibleName(), "Show protected processes");

    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(model->showProtectedProcesses());
    EXPECT_EQ(window.protectionSymbol(), "lock.open.fill");
    EXPECT_TRUE(QSettings().value("showProtectedProcesses").toBool());

    // The track turns teal once the knob has slid across.
    ASSERT_TRUE(QTest::qWaitFor([&] { return toggle.knobPosition() == 1.0; }, 5'000));
    EXPECT_TRUE(near(pixel(toggle, {6, 11}), CorvalentStyle::teal()));
    EXPECT_TRUE(near(pixel(toggle, {28, 11}), Qt::white)) << "the knob sits at the right";

    model->setShowProtectedProcesses(false);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_EQ(window.protectionSymbol(), "lock.shield.fill");
    ASSERT_TRUE(QTest::qWaitFor([&] { return toggle.knobPosition() == 0.0; }, 5'000));
    EXPECT_FALSE(near(pixel(toggle, {30, 11}), CorvalentStyle::teal(), 40));
}

TEST_F(SettingsWindowTest, DiskAccessSwitchWritesItsKeyAndSwapsTheCaption)
{
    auto model = makeModel();
    SettingsWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy changes(&window, &SettingsWindow::includePrivacyProtectedLocationsChanged);
    auto& toggle = window.protectedLocationsSwitch();
    EXPECT_EQ(window.diskAccessCaption(),
              "Limited scans skip Desktop, Documents, Downloads, Mail, Messages, Safari, Photos, iCloud, and "
              "cloud-storage folders unless you choose one directly.");

    toggle.setFocus();
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_TRUE(QSettings().value("includePrivacyProtectedLocations").toBool());
    EXPECT_EQ(window.diskAccessCaption(),
              "Full scans include protected locations where macOS allows access. Denied paths are still reported.");
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_FALSE(QSettings().value("includePrivacyProtectedLocations").toBool());
    EXPECT_EQ(window.diskAccessCaption(), SettingsWindow::diskAccessCaption(false));
    ASSERT_EQ(changes.count(), 2);
    EXPECT_TRUE(changes[0][0].toBool());
    EXPECT_FALSE(changes[1][0].toBool());

    int opened = 0;
    setSystemSettingsOpenerForTesting([&] {
        ++opened;
        return true;
    });
    EXPECT_EQ(window.fullDiskAccessButton().text(), "Open Full Disk Access Settings");
    QTest::mouseClick(&window.fullDiskAccessButton(), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(openFullDiskAccessSettings());
    EXPECT_EQ(opened, 2);
}

TEST_F(SettingsWindowTest, InspectorSwitchWritesItsKey)
{
    auto model = makeModel();
    SettingsWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy changes(&window, &SettingsWindow::showInspectorChanged);
    QTest::mouseClick(&window.inspectorSwitch(), Qt::LeftButton);
    EXPECT_FALSE(QSettings().value("showInspector", true).toBool());
    QTest::mouseClick(&window.inspectorSwitch(), Qt::LeftButton);
    EXPECT_TRUE(QSettings().value("showInspector", false).toBool());
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(SettingsWindowTest, ThemeSegmentsChooseTheAppearance)
{
    auto model = makeModel();
    SettingsWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    screenshot(window, "settings-light");
    EXPECT_TRUE(near(pixel(window, {3, 3}), lightWindow));

    auto& dark = window.themeSegment(AppAppearance::dark);
    EXPECT_EQ(dark.accessibleName(), "Dark");
    QTest::mouseClick(&dark, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(QSettings().value("appearance").toString(), "dark");
    EXPECT_TRUE(dark.isChecked());
    EXPECT_FALSE(window.themeSegment(AppAppearance::system).isChecked());
    EXPECT_TRUE(near(pixel(window, {3, 3}), darkWindow));
    EXPECT_TRUE(near(pixel(dark, {dark.width() / 2, 4}), CorvalentStyle::teal())) << "the chosen segment is teal";

    // Secondary texts follow the palette too.
    int secondaryTexts = 0;
    for (const auto* label : window.findChildren<QLabel*>()) {
        if (label->text() != "Display processes Corvalent cannot stop.") continue;
        ++secondaryTexts;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), CorvalentStyle::secondary(darkPalette()));
    }
    EXPECT_EQ(secondaryTexts, 1);
    screenshot(window, "settings-dark");

    // A choice made in the tray shows here.
    setAppearance(AppAppearance::light);
    EXPECT_TRUE(window.themeSegment(AppAppearance::light).isChecked());
    EXPECT_FALSE(dark.isChecked());
}

}  // namespace
}  // namespace corvalent
