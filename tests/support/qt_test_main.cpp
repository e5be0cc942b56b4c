// Widgets need a real application object; tests use a temp settings folder and
// a home of their own so that no user's preferences or files are read or
// written, and the desktop's icon theme so that symbols are drawn as the
// program draws them.
#include <QApplication>
#include <QIcon>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string_view>

#include "core/disk/trash/disk_items_apart.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/folder_listing.h"
#include "models/full_disk_access.h"
#include "test_support.h"

int main(int argc, char** argv)
{
    // A folder chooser made by a test lists through this program, and the
    // access check and a move's last check ask it, as the application's do
    // through its own.
    if (argc == 3 && argv[1] == corvalent::FolderLister::helperFlag)
        return corvalent::FolderLister::printListing(argv[2]);
    if (argc == 2 && std::string_view(argv[1]) == "--full-disk-access-check")
        return corvalent::FullDiskAccessProbe::exitStatus(corvalent::FullDiskAccessProbe::currentStatus());
    if (argc >= 2 && argv[1] == corvalent::DiskItemsApart::helperFlag)
        return corvalent::DiskTrashExecutor::printExamined(argc - 2, argv + 2);
    // Before any thread: a mount namespace is per process.
    corvalent::testing::setAsideAccountHome();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Motion off: every change lands at once, so tests wait on state and
    // never on an animation's clock.
    if (qEnvironmentVariableIsEmpty("CORVALENT_REDUCE_MOTION")) qputenv("CORVALENT_REDUCE_MOTION", "1");
    // A settings folder of this process's own: tests run in parallel, and
    // a shared one lets them overwrite each other's preferences.
    QTemporaryDir settingsFolder;
    qputenv("XDG_CONFIG_HOME", settingsFolder.path().toUtf8());
    QApplication application(argc, argv);
    QApplication::setOrganizationName("CorvalentTests");
    QApplication::setApplicationName("CorvalentTests");
    QApplication::setStyle("Fusion");
    // The offscreen platform knows no icon theme of its own.
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << "/usr/share/icons");
    QIcon::setThemeName("Adwaita");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
