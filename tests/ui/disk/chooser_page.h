#pragma once

#include <QSettings>
#include <QTest>

#include <memory>

#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui_settle.h"

namespace corvalent::testing {

// The program's window on its Disk page, with the program's own folder
// chooser handed in, whatever the session bus of whoever runs the test offers.
struct ChooserPage {
    std::shared_ptr<OwnFolderChooser> chooser = std::make_shared<OwnFolderChooser>(CORVALENT_APP);
    std::unique_ptr<CorvalentApp> app;
    DiskView* page = nullptr;

    // False where the window never showed or the page is not there.
    bool open()
    {
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->setFolderChooser(chooser);
        app->openMainWindow();
        if (!QTest::qWaitForWindowExposed(&app->mainWindow())) return false;
        app->mainView()->setSection(AppSection::storage);
        page = qobject_cast<DiskView*>(app->mainView()->currentPage());
        settleAfterJobs();
        return page != nullptr;
    }
};

}  // namespace corvalent::testing
