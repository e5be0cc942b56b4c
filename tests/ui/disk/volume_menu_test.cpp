// The disk header's volume menu beside mounts that do not answer: each is
// named as not responding in its section and cannot be chosen, and the menu
// never says that no external disk is connected while one is mounted.
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "live_environments.h"
#include "models/disk_model.h"
#include "ui/disk/header/disk_header.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"

namespace corvalent {
namespace {

DiskVolume computer()
{
    return {"/", "Computer", "/", DiskCapacity::make("Computer", 100'000'000'000, 40'000'000'000), true, false};
}

QStringList menuTexts(QMenu& menu)
{
    QStringList texts;
    for (auto* action : menu.actions()) texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    return texts;
}

QAction* action(QMenu& menu, const QString& text)
{
    for (auto* action : menu.actions())
        if (action->text() == text) return action;
    return nullptr;
}

// The header over a real model whose volume list the test chooses.
struct Header {
    DiskVolumeList list;
    DiskModel model;
    DiskViewState state;
    DiskHeader header;

    Header()
        : model([this] {
              auto environment = quietDiskEnvironment();
              environment.volumes = [this] { return list; };
              return environment;
          }()),
          header(model, state, DiskCommands{[] {}, [] {}, [] {}})
    {
    }
    ~Header()
    {
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
    }
    void load(DiskVolumeList next)
    {
        list = std::move(next);
        bool loaded = false;
        model.loadVolumes(true, [&] { loaded = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10'000));
    }
};

TEST(VolumeMenu, NamesAMountThatDoesNotAnswerAndNeverSaysNoExternalDiskIsConnected)
{
    QSettings().clear();
    Header page;
    auto& menu = page.header.volumeMenu();
    page.load({{computer()}, {{"/media/me/Slow", "Slow"}}});
    EXPECT_EQ(menuTexts(page.header.volumeMenu()),
              (QStringList{"Internal", "Computer", "—", "External", "Slow · not responding", "—", "Refresh Disks"}));
    ASSERT_NE(action(menu, "Slow · not responding"), nullptr);
    EXPECT_FALSE(action(menu, "Slow · not responding")->isEnabled()) << "it cannot be chosen for a scan";
    EXPECT_EQ(page.model.selectedVolumeID(), "/");

    page.header.setPalette(lightPalette());
    page.header.resize(1180, 200);
    page.header.show();
    menu.popup(page.header.volumeButton().mapToGlobal(page.header.volumeButton().rect().bottomLeft()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    std::filesystem::create_directories(CORVALENT_SCREENSHOTS);
    menu.grab().save(QStringLiteral(CORVALENT_SCREENSHOTS "/disk-volume-menu-not-responding.png"));
    menu.hide();

    // An internal disk that does not answer is named among the internal
    // ones; with no external disk mounted, the menu says so.
    page.load({{computer()}, {{"/srv/data", "Data", true, false}}});
    EXPECT_EQ(menuTexts(page.header.volumeMenu()),
              (QStringList{"Internal", "Computer", "Data · not responding", "—", "External",
                           "No external disks connected", "—", "Refresh Disks"}));

    // With nothing that answered, the menu still opens: to name the mount and to ask again.
    page.load({{}, {{"/media/me/Slow", "Slow"}}});
    EXPECT_TRUE(page.header.volumeButton().isEnabled());
    EXPECT_EQ(page.header.volumeButton().text(), "Choose Disk");
    EXPECT_FALSE(page.header.scanButton().isEnabled());
    EXPECT_EQ(menuTexts(page.header.volumeMenu()),
              (QStringList{"Internal", "—", "External", "Slow · not responding", "—", "Refresh Disks"}));
}

}  // namespace
}  // namespace corvalent
