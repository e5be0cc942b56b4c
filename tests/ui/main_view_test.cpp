#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>

#include "models/app_notifications.h"
#include "models/vantle_model.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"

namespace corvalent {
namespace {

// The window with models whose inputs the test controls: a fixed process
// table and one volume.
struct Window {
    std::atomic<int> samples = 0;
    std::atomic<int> volumeLoads = 0;
    std::unique_ptr<VantleModel> model;
    std::unique_ptr<MainView> view;

    Window()
    {
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this] {
            ++samples;
            return ScanResult{};
        };
        environment.mainWindowShown = [] { return true; };
        model = std::make_unique<VantleModel>(std::move(environment));
        DiskModelEnvironment disk;
        disk.volumes = [this] {
            ++volumeLoads;
            return std::vector<DiskVolume>{{"/", "Computer", "/", DiskCapacity::make("Computer", 1000, 400), true, false}};
        };
        disk.snapshotSummary = [](const std::string&, std::stop_token) { return std::optional<APFSSnapshotSummary>{}; };
        disk.uptime = uptimeSeconds;
        view = std::make_unique<MainView>(*model, std::move(disk));
        view->resize(1180, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitFor([this] { return volumeLoads >= 1; }, 5'000));
    }

    // Clicks one of the two toolbar buttons.
    void press(AppSection section)
    {
        auto& buttons = view->sectionSwitch();
        const int x = section == AppSection::processes ? 18 : 50;
        QTest::mouseClick(&buttons, Qt::LeftButton, {}, QPoint(x, buttons.height() / 2));
    }
    void screenshot(const QString& name)
    {
        QTest::qWait(450);  // the page fades in
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        view->grab().save(QString(CORVALENT_SCREENSHOTS) + "/" + name + ".png");
    }
};

TEST(MainView, SectionButtonsSwitchPagesAndTellTheModels)
{
    Window window;
    auto& view = *window.view;
    EXPECT_FALSE(view.section()) << "the overview first";
    window.screenshot("main-overview");

    window.press(AppSection::processes);
    EXPECT_EQ(view.section(), AppSection::processes);
    EXPECT_TRUE(window.model->processViewActive());
    EXPECT_FALSE(view.diskModel().viewActive());
    EXPECT_EQ(view.sectionSwitch().helpText(AppSection::processes), "Return to Overview");
    EXPECT_EQ(view.sectionSwitch().helpText(AppSection::storage), "Show Disk Space");

    window.press(AppSection::storage);
    EXPECT_EQ(view.section(), AppSection::storage) << "straight to the other workspace";
    EXPECT_FALSE(window.model->processViewActive()) << "no sampling behind the disk workspace";
    EXPECT_TRUE(view.diskModel().viewActive());

    window.press(AppSection::storage);
    EXPECT_FALSE(view.section()) << "pressing the shown section returns to the overview";
    EXPECT_TRUE(window.model->processViewActive());
    EXPECT_FALSE(view.diskModel().viewActive());
}

TEST(MainView, RefreshFollowsTheSection)
{
    Window window;
    auto& view = *window.view;
    const auto settle = [] { QTest::qWait(100); };
    settle();

    int samples = window.samples;
    int loads = window.volumeLoads;
    emit AppNotifications::instance().refreshRequested();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.volumeLoads > loads; }, 5'000));
    EXPECT_GT(window.samples, samples) << "the overview refreshes the sample, then the disks";

    view.setSection(AppSection::processes);
    settle();
    samples = window.samples;
    loads = window.volumeLoads;
    emit AppNotifications::instance().refreshRequested();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.samples > samples; }, 5'000));
    settle();
    EXPECT_EQ(window.volumeLoads, loads);

    view.setSection(AppSection::storage);
    settle();
    samples = window.samples;
    loads = window.volumeLoads;
    emit AppNotifications::instance().refreshRequested();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.volumeLoads > loads; }, 5'000));
    EXPECT_EQ(window.samples, samples) << "the disk workspace refreshes only the disks";
}

TEST(MainView, SheetsFollowTheRequestAndTheReview)
{
    Window window;
    auto& model = *window.model;
    model.setRequest(StopRequest{"r", {}, {}, false});
    auto sheet = [&] { return window.view->findChild<QDialog*>(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr && sheet()->isVisible(); }, 2'000));
    QTest::keyClick(sheet(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.request().has_value(); }, 2'000)) << "Escape cancels";

    model.setImpactReview(ImpactReview{"i", {}, {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr && sheet()->isVisible(); }, 2'000));
    model.setImpactReview(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet() == nullptr || !sheet()->isVisible(); }, 2'000));
}

TEST(MainView, ApplicationCommandsAreSharedShortcuts)
{
    CorvalentApp app;
    EXPECT_EQ(app.refreshAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(app.quitAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(app.settingsAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    auto& window = app.mainWindow();
    EXPECT_EQ(window.windowTitle(), "Corvalent");
    EXPECT_EQ(window.minimumSize(), QSize(920, 620));
    int refreshes = 0;
    QObject::connect(&AppNotifications::instance(), &AppNotifications::refreshRequested, &window,
                     [&] { ++refreshes; });
    app.refreshAction().trigger();
    EXPECT_EQ(refreshes, 1) << "Ctrl+R posts the refresh notification once";
}

}  // namespace
}  // namespace corvalent
