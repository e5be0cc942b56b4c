#pragma once

// The application's main window on the screen the test runs on, framed by a
// real window manager: one openbox for every case of a suite, started once it
// frames a window, and a fresh application per case with its main window
// shown and framed. Off the xcb platform the cases skip.

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <string>
#include <vector>

#include "models/background_task.h"
#include "test_support.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui_settle.h"

namespace corvalent {

class FramedAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QGuiApplication::platformName() != "xcb") return;
        const auto openbox = QStandardPaths::findExecutable("openbox");
        ASSERT_FALSE(openbox.isEmpty()) << "openbox is one of the test packages (scripts/install-deps test)";
        wmFolder = std::make_unique<testing::TempDir>();
        windowManager = std::make_unique<testing::ChildProcess>(openbox.toStdString(), std::vector<std::string>{},
                                                                wmFolder->path());
        QWidget probe;
        probe.resize(200, 100);
        probe.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !probe.windowHandle()->frameMargins().isNull(); }, 20'000))
            << "openbox frames windows";
    }
    static void TearDownTestSuite()
    {
        windowManager.reset();
        wmFolder.reset();
    }

    void SetUp() override
    {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs a display with a window manager";
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        // The program's own folder chooser, whatever the runner's session bus offers.
        app->setFolderChooser(std::make_shared<OwnFolderChooser>());
        app->openMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window().windowHandle()->frameMargins().isNull(); }, 10'000));
        settle();
    }
    void TearDown() override
    {
        app.reset();
        for (const auto lane : {TaskLane::files, TaskLane::processes})
            EXPECT_TRUE(BackgroundTask::pool(lane).waitForDone(60'000));
        QCoreApplication::processEvents();
        applyAppearance(AppAppearance::light);
        QSettings().clear();
    }

    QMainWindow& window() { return app->mainWindow(); }
    QScreen& screen() { return *window().screen(); }
    QRect room() { return screen().availableGeometry(); }
    // "1366x768": the whole screen's size, for messages and file names.
    QString screenName() { return QString("%1x%2").arg(screen().geometry().width()).arg(screen().geometry().height()); }

    static inline std::unique_ptr<testing::TempDir> wmFolder;
    static inline std::unique_ptr<testing::ChildProcess> windowManager;
    std::unique_ptr<CorvalentApp> app;
};

}  // namespace corvalent
