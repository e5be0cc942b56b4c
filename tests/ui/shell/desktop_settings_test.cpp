// The desktop's own settings: the settings portal on a message bus of the
// test's own (a real dbus-daemon), answered and then changed while the
// program runs; and GNOME's real tool, reading a settings file of the test's
// own, where no portal answers.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <csignal>
#include <fstream>

#include "core/common/child_process.h"
#include "overview/overview_fixture.h"
#include "private_bus.h"
#include "test_support.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/app_motion.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString gnomeInterface = QStringLiteral("org.gnome.desktop.interface");

// The settings portal as desktops run it. Older portals know only Read, which
// wraps each value in one more variant; a hung one never answers.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    bool readOneKnown = true;
    bool silent = false;
    QMap<QPair<QString, QString>, QVariant> values;

    void change(const QString& group, const QString& key, const QVariant& value)
    {
        values[{group, key}] = value;
        emit SettingChanged(group, key, QDBusVariant(value));
    }

public slots:
    QDBusVariant ReadOne(const QString& group, const QString& key)
    {
        if (!readOneKnown) {
            sendErrorReply(QDBusError::UnknownMethod, "No such method 'ReadOne'");
            return {};
        }
        return answer(group, key);
    }
    QDBusVariant Read(const QString& group, const QString& key)
    {
        return QDBusVariant(QVariant::fromValue(answer(group, key)));
    }

signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    QDBusVariant answer(const QString& group, const QString& key)
    {
        if (silent) {
            setDelayedReply(true);
            return {};
        }
        const auto found = values.find({group, key});
        if (found == values.end()) {
            sendErrorReply("org.freedesktop.portal.Error.NotFound", "Requested setting not found");
            return {};
        }
        return QDBusVariant(*found);
    }
};

// GSettings' file backend keeps its values here.
void writeDesktopSettings(const char* colorScheme, bool animations)
{
    const auto folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/glib-2.0/settings";
    ASSERT_TRUE(QDir().mkpath(folder));
    std::ofstream(QFile::encodeName(folder + "/keyfile").toStdString())
        << "[org/gnome/desktop/interface]\ncolor-scheme='" << colorScheme << "'\nenable-animations="
        << (animations ? "true" : "false") << "\n";
}

bool gnomeToolInstalled()
{
    return QFile::exists("/usr/bin/gsettings") &&
           QFile::exists("/usr/share/glib-2.0/schemas/org.gnome.desktop.interface.gschema.xml");
}

QColor windowColour() { return QApplication::palette().color(QPalette::Window); }
bool showsDark() { return windowColour() == darkPalette().color(QPalette::Window); }
bool showsLight() { return windowColour() == lightPalette().color(QPalette::Window); }

// The program follows the desktop on a private bus; the main window, when
// opened, takes the application's palette. Each test starts light with the
// system appearance and no answer about motion.
class FollowingTheDesktop : public testing::OverviewFixture {
protected:
    FollowingTheDesktop()
    {
        QApplication::setPalette(lightPalette());
        AppMotion::setDesktopAnimationsEnabled(std::nullopt);
    }
    ~FollowingTheDesktop() override
    {
        AppMotion::setDesktopAnimationsEnabled(savedMotion);
        QApplication::setPalette(savedPalette);
        QSettings().remove("appearance");
    }

    void publishPortal()
    {
        ASSERT_TRUE(portalSide.registerObject("/org/freedesktop/portal/desktop", &portal,
                                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));
    }
    void follow(std::chrono::milliseconds answerTimeout = 2s) { followDesktopSettings(bus.connect(), answerTimeout); }

    const QPalette savedPalette = QApplication::palette();
    const std::optional<bool> savedMotion = AppMotion::desktopAnimationsEnabled();
    const bool motionFromEnvironment = !qEnvironmentVariableIsEmpty("CORVALENT_REDUCE_MOTION");
    testing::PrivateBus bus;
    QDBusConnection portalSide = bus.connect();
    FakePortal portal;
};

TEST_F(FollowingTheDesktop, ThePortalsColourSchemeRepaintsTheOpenWindowAtOnce)
{
    portal.values[{appearance, "color-scheme"}] = 1u;  // prefer dark
    publishPortal();
    volumes = {testing::computer(500 * testing::GiB, 180 * testing::GiB)};
    refreshProcesses();
    openWindow({1180, 760});
    // The window takes the application's palette from posted events.
    const auto windowShows = [this](const QPalette& palette) {
        return [this, colour = palette.color(QPalette::Window)] {
            return windowColour() == colour && window->palette().color(QPalette::Window) == colour;
        };
    };
    const auto windowCorner = [this] { return window->grab().toImage().pixelColor(4, window->height() - 4); };
    follow();
    ASSERT_TRUE(QTest::qWaitFor(windowShows(darkPalette()), 10'000));
    EXPECT_TRUE(testing::sameColour(windowCorner(), darkPalette().color(QPalette::Window)));
    screenshot("appearance-portal-dark");

    portal.change(appearance, "color-scheme", 2u);  // prefer light
    ASSERT_TRUE(QTest::qWaitFor(windowShows(lightPalette()), 10'000));
    EXPECT_TRUE(testing::sameColour(windowCorner(), lightPalette().color(QPalette::Window)));
    screenshot("appearance-portal-light");

    portal.change(appearance, "color-scheme", 1u);
    EXPECT_TRUE(QTest::qWaitFor(showsDark, 10'000));
    portal.change(appearance, "color-scheme", 0u);  // no preference reads as light
    EXPECT_TRUE(QTest::qWaitFor(showsLight, 10'000));
}

TEST_F(FollowingTheDesktop, AChosenAppearanceHoldsAndTheDesktopsLatestWordWaitsForSystem)
{
    portal.values[{appearance, "color-scheme"}] = 1u;
    publishPortal();
    follow();
    ASSERT_TRUE(QTest::qWaitFor(showsDark, 10'000));

    setAppearance(AppAppearance::dark);
    portal.change(appearance, "color-scheme", 2u);
    ASSERT_TRUE(QTest::qWaitFor([] { return !desktopPrefersDark(); }, 10'000));
    EXPECT_TRUE(showsDark()) << "dark was chosen";
    setAppearance(AppAppearance::system);
    EXPECT_TRUE(showsLight()) << "the change that came meanwhile";

    setAppearance(AppAppearance::light);
    portal.change(appearance, "color-scheme", 1u);
    ASSERT_TRUE(QTest::qWaitFor([] { return desktopPrefersDark(); }, 10'000));
    EXPECT_TRUE(showsLight()) << "light was chosen";
    setAppearance(AppAppearance::system);
    EXPECT_TRUE(showsDark());
}

TEST_F(FollowingTheDesktop, ReducedMotionFollowsThePortal)
{
    portal.values[{appearance, "color-scheme"}] = 0u;
    portal.values[{appearance, "reduced-motion"}] = 1u;
    // The newer key decides where both are given.
    portal.values[{gnomeInterface, "enable-animations"}] = true;
    publishPortal();
    follow();
    ASSERT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == false; }, 10'000));
    EXPECT_TRUE(motionFromEnvironment || AppMotion::reduceMotion());

    portal.change(appearance, "reduced-motion", 0u);
    ASSERT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == true; }, 10'000));
    EXPECT_TRUE(motionFromEnvironment || !AppMotion::reduceMotion());
    portal.change(gnomeInterface, "enable-animations", false);
    portal.change(appearance, "color-scheme", 1u);  // signals arrive in order: this one comes after
    ASSERT_TRUE(QTest::qWaitFor(showsDark, 10'000));
    EXPECT_EQ(desktopAnimationsEnabled(), true) << "GNOME's key gives way to the portal's own";
}

TEST_F(FollowingTheDesktop, AnOlderPortalAnswersThroughRead)
{
    portal.readOneKnown = false;
    portal.values[{appearance, "color-scheme"}] = 1u;
    portal.values[{gnomeInterface, "enable-animations"}] = false;  // GNOME's key, before reduced-motion existed
    publishPortal();
    follow();
    ASSERT_TRUE(QTest::qWaitFor(showsDark, 10'000));
    ASSERT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == false; }, 10'000));

    portal.change(gnomeInterface, "enable-animations", true);
    EXPECT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == true; }, 10'000));
    portal.change(appearance, "color-scheme", 2u);
    EXPECT_TRUE(QTest::qWaitFor(showsLight, 10'000));
}

// Without a portal GNOME's own tool answers; the GUI thread never waits for
// either (a child on it would stop this debug build).
TEST_F(FollowingTheDesktop, WithoutAPortalGnomesToolAnswersFromAWorkerThread)
{
    if (!gnomeToolInstalled()) GTEST_SKIP() << "GNOME's settings tool or its interface schema is not installed";
    testing::ScopedVariable backend("GSETTINGS_BACKEND", "keyfile");

    writeDesktopSettings("prefer-dark", false);
    follow();
    EXPECT_TRUE(QTest::qWaitFor(showsDark, 20'000)) << "the system appearance is chosen again";
    EXPECT_TRUE(desktopPrefersDark());
    EXPECT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == false; }, 20'000));
    EXPECT_TRUE(motionFromEnvironment || AppMotion::reduceMotion());

    writeDesktopSettings("default", true);
    follow();
    EXPECT_TRUE(QTest::qWaitFor(showsLight, 20'000));
    EXPECT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == true; }, 20'000));
    EXPECT_TRUE(motionFromEnvironment || !AppMotion::reduceMotion());
}

TEST_F(FollowingTheDesktop, APortalThatNeverAnswersGivesWayToGnomesTool)
{
    if (!gnomeToolInstalled()) GTEST_SKIP() << "GNOME's settings tool or its interface schema is not installed";
    testing::ScopedVariable backend("GSETTINGS_BACKEND", "keyfile");
    writeDesktopSettings("default", false);
    portal.silent = true;
    publishPortal();
    QApplication::setPalette(darkPalette());

    follow(300ms);
    EXPECT_TRUE(showsDark()) << "nothing is awaited on the GUI thread";
    EXPECT_TRUE(QTest::qWaitFor(showsLight, 20'000));
    EXPECT_TRUE(QTest::qWaitFor([] { return desktopAnimationsEnabled() == false; }, 20'000));
}

TEST(ChildOnGuiThreadDeathTest, StopsADebugBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ChildRunRequest request;
    request.executable = "/bin/true";
    EXPECT_DEBUG_DEATH(runChild(request), "GUI thread");
}

}  // namespace
}  // namespace corvalent

#include "desktop_settings_test.moc"
