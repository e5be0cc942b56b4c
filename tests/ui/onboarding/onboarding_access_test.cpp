// The access introduction against real folder permissions under a temp home,
// with the program itself as the fresh process: once the person fixes the
// permissions, Verify Access reaches the ready state, and no restart is asked.
#include <QAbstractButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/onboarding/full_disk_access_introduction.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Status = FullDiskAccessStatus;

constexpr uid_t nobody = 65534;

// Permissions do not bind root: as root, this process becomes "nobody" (real
// and effective ids, on every thread; the saved ones stay root's to come
// back), so that a child it starts is nobody's alone. The settings folder is
// opened to it so that the card's choices are still stored.
bool becomeNobody()
{
    const fs::path settings = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
    fs::permissions(settings, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(settings))
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms::all : fs::perms(0666));
    return ::setresgid(nobody, nobody, 0) == 0 && ::setresuid(nobody, nobody, 0) == 0;
}

std::pair<bool, bool> stored()
{
    const QSettings s;
    return {s.value("includePrivacyProtectedLocations").toBool(),
            s.value("hasSeenFullDiskAccessIntroduction").toBool()};
}

TEST(OnboardingAccess, FixedPermissionsAreConfirmedWithoutARestart)
{
    const bool asRoot = ::geteuid() == 0;
    testing::TempHome temp;
    const auto documents = temp.home / "Documents";
    fs::create_directory(documents);
    // Root's program file may lie where "nobody" cannot reach it.
    const auto program = asRoot ? testing::copyExecutable(CORVALENT_APP, temp.root.path(), "corvalent")
                                : fs::path(CORVALENT_APP);
    fs::permissions(temp.root.path(), fs::perms(0755));
    // The home is the reader's own, and neither it nor Documents may be read.
    for (const auto& folder : {temp.home, documents})
        ASSERT_TRUE(!asRoot || ::chown(folder.c_str(), nobody, nobody) == 0);
    fs::permissions(temp.home, fs::perms(0111));
    fs::permissions(documents, fs::perms::none);
    const auto restore = qScopeGuard([&] {
        fs::permissions(temp.home, fs::perms::owner_all);
        fs::permissions(documents, fs::perms::owner_all);
    });
    QSettings().setValue("includePrivacyProtectedLocations", true);
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", false);

    int closes = 0;
    {
        const auto back = qScopeGuard([] {
            if (::geteuid() == nobody && ::setresuid(0, 0, 0) == 0) (void)::setresgid(0, 0, 0);
        });
        if (asRoot && !becomeNobody()) GTEST_SKIP() << "cannot become nobody here";
        if (!asRoot && ::access(documents.c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not bind this account";
        ASSERT_EQ(FullDiskAccessProbe::currentStatus(), Status::denied);

        // The real checks; nothing to open, and no restart to take.
        auto environment = OnboardingEnvironment::system(FullDiskAccessVerifier::repeatedCheck());
        environment.verifyFresh = [program] {
            return FullDiskAccessVerifier::checkInFreshProcess(std::chrono::seconds(60), program.string());
        };
        environment.relaunch = [](const std::string&) { return std::optional<QString>("not asked for"); };
        QWidget host;
        host.resize(900, 760);
        auto* overlay = new FullDiskAccessOverlay(std::move(environment), [&closes] { ++closes; }, &host);
        overlay->setGeometry(host.rect());
        host.show();
        auto& card = overlay->card();
        const auto settle = [&card] { return QTest::qWaitFor([&card] { return !card.busy(); }, 90'000); };
        const auto press = [&card](const QString& text) {
            auto* button = card.button(text);
            ASSERT_TRUE(button != nullptr && button->isEnabled()) << text.toStdString();
            QTest::mouseClick(button, Qt::LeftButton);
        };
        ASSERT_TRUE(settle());
        ASSERT_EQ(closes, 0);

        // Nothing to open: Set Up checks here and in a fresh process at once.
        press("Set Up Folder Access");
        ASSERT_TRUE(settle());
        EXPECT_EQ(card.statusLabel(), "Folder access not detected");

        // The person makes their Documents folder readable again.
        fs::permissions(documents, fs::perms(0755));
        press("Verify Access");
        ASSERT_TRUE(settle());
        EXPECT_EQ(card.title(), "Folder access is ready");
        EXPECT_EQ(card.statusLabel(), "Folder access confirmed");
        EXPECT_EQ(card.buttonTexts(), QStringList({"Use limited scanning", "Open Home Folder", "Continue"}));
        EXPECT_EQ(stored(), std::pair(true, false)) << "protected folders included; the person has not closed it";

        press("Continue");
        ASSERT_TRUE(settle());
    }
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(stored(), std::pair(true, true));
}

// An upgrade replaces the program's file while it runs: the card and the disk
// page still ask the program itself. A second name of this test program,
// started from a file that it then replaces, checks through both.
TEST(OnboardingAccess, TheChecksAskThisProgramAfterAnUpgradeReplacedItsFile)
{
    const auto self = fs::read_symlink(std::string(thisProgram));
    const testing::TempDir dir(self.parent_path());  // a link needs the same file system
    const auto installed = dir.path() / "corvalent";
    fs::create_hard_link(self, installed);
    const testing::TempHome temp;
    const testing::ScopedVariable asked("CORVALENT_TEST_CHECK_AFTER_UPGRADE", "1");
    testing::ChildProcess program(installed, {"--gtest_filter=OnboardingAccessAfterUpgrade.*"}, dir.path());
    const auto status = program.waitFor(std::chrono::seconds(120));
    ASSERT_TRUE(status.has_value()) << "still running two minutes later";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
}

// The started program's side of the case above.
TEST(OnboardingAccessAfterUpgrade, ReplacesItsOwnFileAndChecks)
{
    if (std::getenv("CORVALENT_TEST_CHECK_AFTER_UPGRADE") == nullptr) GTEST_SKIP() << "run by the test above";
    const auto file = fs::read_symlink(std::string(thisProgram));
    ASSERT_TRUE(fs::remove(file));
    testing::writeFile(file, 4'096);  // the new version, as a package upgrade leaves it
    const auto check = FullDiskAccessVerifier::repeatedCheck();
    const auto card = OnboardingEnvironment::system(check);
    const auto page = DiskView::Environment::system(check);
    for (const auto& check : {card.probe, card.verifyFresh, page.probeAccess})
        EXPECT_EQ(std::async(std::launch::async, check).get(), Status::granted);
}

}  // namespace
}  // namespace corvalent
