// The desktop's own settings, read through GNOME's real tool from a settings
// file of the test's own, arrive after start-up and are applied then.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

#include "core/child_process.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/app_motion.h"

namespace corvalent {
namespace {

// GSettings' file backend keeps its values here.
void writeDesktopSettings(const char* colorScheme, bool animations)
{
    const auto folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/glib-2.0/settings";
    ASSERT_TRUE(QDir().mkpath(folder));
    std::ofstream(QFile::encodeName(folder + "/keyfile").toStdString())
        << "[org/gnome/desktop/interface]\ncolor-scheme='" << colorScheme << "'\nenable-animations="
        << (animations ? "true" : "false") << "\n";
}

TEST(DesktopSettings, ArriveFromAWorkerThreadAndAreAppliedThen)
{
    if (!QFile::exists("/usr/bin/gsettings") ||
        !QFile::exists("/usr/share/glib-2.0/schemas/org.gnome.desktop.interface.gschema.xml"))
        GTEST_SKIP() << "GNOME's settings tool or its interface schema is not installed";
    const auto palette = QApplication::palette();
    QSettings().remove("appearance");
    QApplication::setPalette(lightPalette());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    const bool motionFromEnvironment = !qEnvironmentVariableIsEmpty("CORVALENT_REDUCE_MOTION");

    // A child on the GUI thread would stop this debug build: the read runs aside.
    writeDesktopSettings("prefer-dark", false);
    readDesktopSettingsInBackground();
    EXPECT_TRUE(QTest::qWaitFor([] { return desktopPrefersDark(); }, 20'000));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), darkPalette().color(QPalette::Window))
        << "the system appearance is chosen again";
    EXPECT_EQ(desktopAnimationsEnabled(), false);
    EXPECT_TRUE(motionFromEnvironment || AppMotion::reduceMotion());

    writeDesktopSettings("default", true);
    readDesktopSettingsInBackground();
    EXPECT_TRUE(QTest::qWaitFor([] { return !desktopPrefersDark(); }, 20'000));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), lightPalette().color(QPalette::Window));
    EXPECT_EQ(desktopAnimationsEnabled(), true);
    EXPECT_TRUE(motionFromEnvironment || !AppMotion::reduceMotion());

    qunsetenv("GSETTINGS_BACKEND");
    QApplication::setPalette(palette);
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
