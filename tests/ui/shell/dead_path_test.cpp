// A folder in PATH on a share that never answers, put first: Open Home
// Folder in Settings and Set Up Folder Access on the access card look the
// opener up in a child of their own, so the window keeps answering, and
// each says that nothing opened once its bound has passed; a session that
// names no bus starts as any other.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "core/common/child_process.h"
#include "core/disk/disk_cleanup_guides.h"
#include "models/vantle_model.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/disk/review/cleanup_guide_sheet.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/shell/settings_window.h"
#include "ui/shell/system_settings.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/message_line.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

const QString notOpened = QStringLiteral("No file manager could open the home folder.");

// The share with the opener's name on it, whose every look never ends, first
// in PATH; a guard far beyond any bound takes the share away, so that a
// thread of this process caught there goes on and the test fails instead
// of hanging.
class DeadPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.files = {{"xdg-open", 0}, {"dbus-launch", 0}};
        tree.slowStat = {".", "xdg-open", "dbus-launch"};
        tree.neverAnswers = true;
        share.emplace(dir.path() / "share", tree);
        if (!share->mounted()) GTEST_SKIP() << share->problem();
        path.emplace("PATH", share->path().string() + ":/usr/bin:/bin");
        guard = std::jthread([this](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any ended;
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, stop, 30s, [] { return false; })) {
                if (stop.stop_requested()) return;
                gaveUp = true;
                share->unmount();
            }
        });
        ticking.setInterval(10);
        QObject::connect(&ticking, &QTimer::timeout, [this] { ++ticks; });
        ticking.start();
    }
    void TearDown() override
    {
        guard.request_stop();
        if (guard.joinable()) guard.join();
        path.reset();
    }

    // Clicks `button`; true when the event loop runs on while the lookup
    // waits on the share and the action's answer, `pending`, is still out.
    bool answersWhileTheLookupWaits(QAbstractButton& button, const std::function<bool()>& pending)
    {
        QTest::mouseClick(&button, Qt::LeftButton);
        if (gaveUp || !QTest::qWaitFor([&] { return share->slowCallsBegun() >= 1; }, 10'000)) return false;
        const int before = ticks;
        return QTest::qWaitFor([&] { return ticks > before + 2; }, 5'000) && pending() && !gaveUp;
    }
    void expectOnlyAChildLookedAtTheShare()
    {
        EXPECT_FALSE(gaveUp) << "a thread of this process waited on the share";
        EXPECT_GE(share->slowCallsBegun(), 1U) << "the lookup never reached the share";
        EXPECT_EQ(share->slowCallsBegunBy(::getpid()), 0U);
    }

    testing::TempHome home;
    testing::TempDir dir;
    testing::SlowTree tree;
    std::optional<testing::SlowMount> share;
    std::optional<testing::ScopedVariable> path;
    std::atomic<bool> gaveUp = false;
    std::jthread guard;
    QTimer ticking;
    int ticks = 0;
};

TEST_F(DeadPath, OpenHomeFolderInSettingsKeepsTheWindowAnsweringAndSaysNothingOpened)
{
    VantleModel model;
    SettingsWindow window(model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(answersWhileTheLookupWaits(window.fullDiskAccessButton(),
                                           [&] { return window.fullDiskAccessMessage().text().isEmpty(); }))
        << "the window froze";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.fullDiskAccessMessage().text().isEmpty(); }, 20'000));
    EXPECT_EQ(window.fullDiskAccessMessage().text(), notOpened);
    expectOnlyAChildLookedAtTheShare();
}

TEST_F(DeadPath, SetUpFolderAccessOnTheCardKeepsTheWindowAnsweringAndChecksAccess)
{
    auto probes = std::make_shared<std::atomic<int>>(0);
    OnboardingEnvironment environment;
    environment.probe = environment.verifyFresh = [probes] {
        ++*probes;
        return FullDiskAccessStatus::denied;
    };
    environment.openSettings = [] { return openFullDiskAccessSettings(); };
    environment.recheckAfter = 1h;
    QWidget host;
    host.resize(900, 760);
    auto* overlay = new FullDiskAccessOverlay(std::move(environment), {}, &host);
    overlay->setGeometry(host.rect());
    host.show();
    auto& card = overlay->card();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.busy(); }, 15'000));
    auto* setUp = card.button(QStringLiteral("Set Up Folder Access"));
    ASSERT_NE(setUp, nullptr);
    EXPECT_TRUE(answersWhileTheLookupWaits(*setUp, [&] { return card.busy() && card.messages().isEmpty(); }))
        << "the window froze";
    EXPECT_EQ(card.statusLabel(), "Checking access\u2026");
    // Nothing opened: the card says so and checks by itself at once.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !card.busy(); }, 20'000));
    EXPECT_EQ(card.messages(), QStringList({notOpened}));
    EXPECT_EQ(card.statusLabel(), "Folder access not detected");
    EXPECT_GE(probes->load(), 2) << "the check after Set Up";
    expectOnlyAChildLookedAtTheShare();
}

// A guide's documentation link goes to the same opener: the sheet answers
// while the lookup waits, and Done closes it.
TEST_F(DeadPath, AGuidesDocumentationLinkKeepsTheSheetAnswering)
{
    DiskCleanupCandidate volume;
    volume.path = "/home/u/.local/share/docker/volumes/db";
    DiskCleanupGuideView sheet(*DiskCleanupGuides::guide(volume), nullptr);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    auto* link = sheet.findChild<Button*>("guideDocumentation");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(answersWhileTheLookupWaits(*link, [&] { return sheet.isVisible(); })) << "the sheet froze";
    QTest::mouseClick(&sheet.doneButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
    expectOnlyAChildLookedAtTheShare();
}

// With no session bus named, the D-Bus library would start its launcher by
// name through PATH and the window would wait for it: the program names the
// bus first, so it starts, answers a later start, and never looks at the share.
TEST_F(DeadPath, ASessionNamingNoBusStartsAndAnswersALaterStart)
{
    const auto runtime = dir.path() / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    const std::vector<std::string> start{"-u", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY=:99", "QT_QPA_PLATFORM=offscreen",
                                         "PATH=" + share->path().string() + ":/usr/bin:/bin",
                                         "XDG_RUNTIME_DIR=" + runtime.string(), "HOME=" + dir.path().string(),
                                         "XDG_CONFIG_HOME=" + (dir.path() / "config").string(), CORVALENT_APP};
    testing::ChildProcess first("/usr/bin/env", start, dir.path());
    ASSERT_TRUE(testing::eventually([&] { return std::filesystem::exists(runtime / "corvalent.socket"); }, 60s));

    ChildRunRequest later;
    later.executable = "/usr/bin/env";
    later.arguments = start;
    later.deadline = 60s;
    // Off this thread, which runs no child; the answer comes from the other program.
    auto pending = std::async(std::launch::async, [&later] { return runChild(later); });
    ASSERT_TRUE(testing::eventually([&] { return pending.wait_for(0s) == std::future_status::ready; }, 90s));
    const auto run = pending.get();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Corvalent is already running; its window was brought forward.\n");
    EXPECT_EQ(share->slowCallsBegun(), 0U) << "something was looked up by name";
    EXPECT_FALSE(gaveUp);
}

}  // namespace
}  // namespace corvalent
