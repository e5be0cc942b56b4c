// The models live on the GUI thread of a real application object; tests use
// a temp settings folder so that no user's preferences are read or written.
#include <QGuiApplication>
#include <QStandardPaths>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication application(argc, argv);
    QGuiApplication::setOrganizationName("CorvalentTests");
    QGuiApplication::setApplicationName("CorvalentTests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
