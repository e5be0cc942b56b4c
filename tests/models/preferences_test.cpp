#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <fstream>

#include "models/preferences.h"
#include "test_support.h"

namespace corvalent {
namespace {

// Each case starts and ends with an empty store; a raw reader checks what
// the unit wrote, as another program or a later run would read it.
class PreferencesTest : public ::testing::Test {
protected:
    PreferencesTest() { QSettings().clear(); }
    ~PreferencesTest() override { QSettings().clear(); }

    static QString fileText()
    {
        QFile file(QSettings().fileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    Preferences& preferences = Preferences::standard();
};

TEST_F(PreferencesTest, AnEmptyStoreReadsAsTheDefaults)
{
    EXPECT_FALSE(preferences.showProtectedProcesses());
    EXPECT_TRUE(preferences.showInspector());
    EXPECT_FALSE(preferences.includePrivacyProtectedLocations());
    EXPECT_FALSE(preferences.hasSeenFullDiskAccessIntroduction());
    EXPECT_EQ(preferences.appearance(), "system");
    EXPECT_TRUE(preferences.fullDiskAccessSigningIdentity().isEmpty());
    EXPECT_TRUE(preferences.languageModel().isEmpty());
}

TEST_F(PreferencesTest, SettersWriteTheStoredKeysAndFormatsToTheFileAtOnce)
{
    preferences.setShowProtectedProcesses(true);
    preferences.setShowInspector(false);
    preferences.setIncludePrivacyProtectedLocations(true);
    preferences.setHasSeenFullDiskAccessIntroduction(true);
    preferences.setAppearance("dark");
    preferences.setFullDiskAccessSigningIdentity("Corvalent-unsigned-v1");

    const QSettings raw;
    EXPECT_EQ(raw.value("showProtectedProcesses"), QVariant(true));
    EXPECT_EQ(raw.value("showInspector"), QVariant(false));
    EXPECT_EQ(raw.value("includePrivacyProtectedLocations"), QVariant(true));
    EXPECT_EQ(raw.value("hasSeenFullDiskAccessIntroduction"), QVariant(true));
    EXPECT_EQ(raw.value("appearance"), QVariant("dark"));
    EXPECT_EQ(raw.value("fullDiskAccessSigningIdentity"), QVariant("Corvalent-unsigned-v1"));

    // On disk already, as a new process started now (a relaunch) reads it.
    const auto text = fileText();
    for (const auto* line : {"showProtectedProcesses=true", "showInspector=false",
                             "includePrivacyProtectedLocations=true", "hasSeenFullDiskAccessIntroduction=true",
                             "appearance=dark", "fullDiskAccessSigningIdentity=Corvalent-unsigned-v1"})
        EXPECT_TRUE(text.contains(QLatin1String(line))) << line << "\n" << text.toStdString();
}

TEST_F(PreferencesTest, SignalsComeOncePerRealChange)
{
    QSignalSpy inspector(&preferences, &Preferences::showInspectorChanged);
    QSignalSpy include(&preferences, &Preferences::includePrivacyProtectedLocationsChanged);
    QSignalSpy appearance(&preferences, &Preferences::appearanceChanged);

    preferences.setShowInspector(true);
    EXPECT_EQ(inspector.count(), 0) << "the default again is no change";
    EXPECT_TRUE(QSettings().contains("showInspector")) << "but it is stored, as the choice was made";
    preferences.setShowInspector(false);
    preferences.setShowInspector(false);
    ASSERT_EQ(inspector.count(), 1);
    EXPECT_EQ(inspector.front().front().toBool(), false);

    // A value another writer stored counts as the current one.
    QSettings().setValue("includePrivacyProtectedLocations", true);
    preferences.setIncludePrivacyProtectedLocations(true);
    EXPECT_EQ(include.count(), 0);
    preferences.setIncludePrivacyProtectedLocations(false);
    ASSERT_EQ(include.count(), 1);
    EXPECT_EQ(include.front().front().toBool(), false);

    preferences.setAppearance("system");
    preferences.setAppearance("light");
    preferences.setAppearance("light");
    preferences.setAppearance("dark");
    ASSERT_EQ(appearance.count(), 2);
    EXPECT_EQ(appearance.at(0).front().toString(), "light");
    EXPECT_EQ(appearance.at(1).front().toString(), "dark");
}

TEST(IniFileValue, ReadsAnotherProgramsSettingsFile)
{
    const testing::TempDir folder;
    const auto path = folder.path() / "settings.ini";
    std::ofstream(path) << "[Settings]\ngtk-enable-animations=false\n";
    const auto file = QString::fromStdString(path.string());
    const auto value = iniFileValue(file, "Settings/gtk-enable-animations");
    ASSERT_TRUE(value.isValid());
    EXPECT_FALSE(value.toBool());
    EXPECT_FALSE(iniFileValue(file, "Settings/gtk-theme-name").isValid());
    EXPECT_FALSE(iniFileValue(QString::fromStdString((folder.path() / "absent.ini").string()),
                              "Settings/gtk-enable-animations")
                     .isValid());
}

}  // namespace
}  // namespace corvalent
