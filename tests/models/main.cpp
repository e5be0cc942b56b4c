// The models live on the GUI thread of a real application object; tests use
// a temp settings folder so that no user's preferences are read or written.
#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A settings folder of this process's own: tests run in parallel, and
    // a shared one lets them overwrite each other's preferences.
    QTemporaryDir settingsFolder;
    qputenv("XDG_CONFIG_HOME", settingsFolder.path().toUtf8());
    QGuiApplication application(argc, argv);
    QGuiApplication::setOrganizationName("CorvalentTests");
    QGuiApplication::setApplicationName("CorvalentTests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
