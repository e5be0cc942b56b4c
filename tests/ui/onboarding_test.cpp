// The Full Disk Access introduction with checks, settings and relaunch
// standing in: every path from the first look to the reopen.
#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ui/full_disk_access_introduction.h"

namespace corvalent {
namespace {

using Status = FullDiskAccessStatus;

const QString setUpText = QStringLiteral("Set Up Full Disk Access");
const QString limitedText = QStringLiteral("Use limited scanning");
const QString verifyText = QStringLiteral("Verify Access");
const QString reopenText = QStringLiteral("Quit & Reopen Corvalent");
const QString deniedMessage =
    QStringLiteral("Full Disk Access is not on yet. Enable Corvalent in System Settings, then verify again.");

// What the stand-ins answer and how often they were asked. Shared with the
// jobs in the pool, so that a job outliving a test touches nothing freed.
struct Fakes {
    std::atomic<Status> probeAnswer = Status::denied;
    std::atomic<Status> verifyAnswer = Status::denied;
    std::atomic<bool> holdVerification = false;
    std::atomic<int> probes = 0;
    std::atomic<int> verifications = 0;
    bool settingsApplication = true;
    int settingsOpened = 0;
    std::optional<QString> relaunchError;
    int relaunches = 0;
    int exits = 0;
};

OnboardingEnvironment environmentFor(const std::shared_ptr<Fakes>& fakes)
{
    OnboardingEnvironment environment;
    environment.probe = [fakes] {
        ++fakes->probes;
        return fakes->probeAnswer.load();
    };
    environment.verifyFresh = [fakes] {
        ++fakes->verifications;
        while (fakes->holdVerification) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return fakes->verifyAnswer.load();
    };
    environment.openSettings = [fakes] {
        ++fakes->settingsOpened;
        return fakes->settingsApplication;
    };
    environment.relaunch = [fakes] {
        ++fakes->relaunches;
        return fakes->relaunchError;
    };
    environment.exitProcess = [fakes] { ++fakes->exits; };
    return environment;
}

bool stored(const char* key)
{
    return QSettings().value(key, false).toBool();
}

bool closeTo(const QColor& seen, const QColor& expected, int tolerance)
{
    return std::abs(seen.red() - expected.red()) <= tolerance && std::abs(seen.green() - expected.green()) <= tolerance &&
           std::abs(seen.blue() - expected.blue()) <= tolerance;
}

// A window with the overlay over it, shown only when the test says so.
class Onboarding : public ::testing::Test {
protected:
    std::shared_ptr<Fakes> fakes = std::make_shared<Fakes>();
    int closes = 0;
    std::unique_ptr<QWidget> host;
    FullDiskAccessOverlay* overlay = nullptr;

    // As on first use, with a stale "include" that a denied check must turn off.
    void SetUp() override
    {
        QSettings settings;
        settings.setValue("includePrivacyProtectedLocations", true);
        settings.setValue("hasSeenFullDiskAccessIntroduction", false);
    }

    void TearDown() override
    {
        fakes->holdVerification = false;
        if (overlay != nullptr) settle();
        host.reset();
    }

    // Shows the window; the card starts its first check.
    void open()
    {
        host = std::make_unique<QWidget>();
        host->resize(900, 720);
        overlay = new FullDiskAccessOverlay(environmentFor(fakes), [this] { ++closes; }, host.get());
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        settle();
    }

    FullDiskAccessIntroduction& card() { return overlay->card(); }

    // Every check finished and delivered, and no cross-fade left.
    void settle()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !card().busy() && !card().crossFading(); }, 15'000));
        // Layout requests travel from the card's rows up to the overlay one event at a time.
        for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
    }

    void press(const QString& text)
    {
        auto* button = card().button(text);
        ASSERT_NE(button, nullptr) << text.toStdString();
        ASSERT_TRUE(button->isEnabled()) << text.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    bool enabled(const QString& text)
    {
        auto* button = card().button(text);
        return button != nullptr && button->isEnabled();
    }

    QImage screenshot(const QString& name)
    {
        // The card grows with its content rather than squeezing it.
        EXPECT_EQ(card().height(), card().heightForWidth(card().width())) << name.toStdString();
        const auto image = host->grab().toImage();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        image.save(QString(CORVALENT_SCREENSHOTS) + "/" + name + ".png");
        return image;
    }

    QColor pixelAt(const QImage& image, QWidget* widget, QPoint at)
    {
        const auto point = widget->mapTo(host.get(), at) * image.devicePixelRatio();
        return image.pixelColor(point);
    }

    // The Set Up step with the settings application opened, back in front again.
    void setUpAndReturn()
    {
        press(setUpText);
        settle();
        card().applicationBecameActive();
        settle();
    }
};

TEST_F(Onboarding, GrantedAccessClosesTheCardWithoutAClick)
{
    fakes->probeAnswer = Status::granted;
    QSettings().setValue("includePrivacyProtectedLocations", false);
    open();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(stored("includePrivacyProtectedLocations"));
    EXPECT_TRUE(stored("hasSeenFullDiskAccessIntroduction"));
    EXPECT_EQ(card().title(), "Full Disk Access is ready");
    EXPECT_EQ(fakes->settingsOpened, 0);

    // The window coming to the front later does not start the card again.
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(fakes->probes, 1);
    EXPECT_EQ(closes, 1);
}

TEST_F(Onboarding, DeniedAccessIntroducesTheChoiceAndLimitedScanningCloses)
{
    open();
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(card().title(), "See what is using your space");
    EXPECT_EQ(card().subtitle(), "Full Disk Access lets Corvalent build a complete, accurate storage map.");
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, setUpText}));
    EXPECT_FALSE(card().showsSetupSteps());
    EXPECT_FALSE(stored("includePrivacyProtectedLocations")) << "a denied check turns the preference off";
    EXPECT_FALSE(stored("hasSeenFullDiskAccessIntroduction")) << "untouched until a choice";

    const auto image = screenshot("onboarding-introduction");
    // The scrim darkens the window by 0.22 of black.
    const auto window = host->palette().color(QPalette::Window);
    const QColor dimmed(qRound(window.red() * 0.78), qRound(window.green() * 0.78), qRound(window.blue() * 0.78));
    EXPECT_TRUE(closeTo(image.pixelColor(3, 3), dimmed, 3)) << image.pixelColor(3, 3).name().toStdString();
    auto* prominent = card().button(setUpText);
    EXPECT_TRUE(closeTo(pixelAt(image, prominent, QPoint(5, prominent->height() / 2)), QColor(10, 168, 158), 10));
    // The card sits in the middle of the window.
    EXPECT_LE(std::abs(card().geometry().center().x() - overlay->rect().center().x()), 1);
    EXPECT_LE(std::abs(card().geometry().center().y() - overlay->rect().center().y()), 1);

    press(limitedText);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(stored("includePrivacyProtectedLocations"));
    EXPECT_TRUE(stored("hasSeenFullDiskAccessIntroduction"));
}

TEST_F(Onboarding, SetUpWaitsForTheAppToComeBackBeforeVerifying)
{
    open();
    press(setUpText);
    settle();
    EXPECT_EQ(fakes->settingsOpened, 1);
    EXPECT_EQ(card().title(), "Turn on Corvalent");
    EXPECT_EQ(card().subtitle(), "Switch Corvalent on in System Settings, then verify it below.");
    EXPECT_EQ(card().statusLabel(), "Checking access\u2026");
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, "Open Settings", verifyText}));
    EXPECT_FALSE(enabled(verifyText)) << "nothing to verify until the person comes back";
    EXPECT_TRUE(card().showsSetupSteps());
    EXPECT_EQ(card().statusIndicator()->accessibleName(), "Checking Full Disk Access");
    EXPECT_EQ(fakes->probes, 1) << "no check while the settings are open";
    screenshot("onboarding-waiting");

    card().applicationBecameActive();
    settle();
    EXPECT_EQ(fakes->probes, 2);
    EXPECT_EQ(fakes->verifications, 1) << "a fresh process is asked too";
    EXPECT_EQ(card().statusLabel(), "Full Disk Access not detected");
    EXPECT_EQ(card().setupDetail(),
              "If Corvalent already looks on, switch it off and on again. If needed, remove it and add it again "
              "from Applications.");
    EXPECT_TRUE(card().messages().isEmpty()) << "the automatic check reports no failure";
    EXPECT_TRUE(enabled(verifyText));
    EXPECT_EQ(card().statusIndicator()->accessibleName(), "Full Disk Access switch");
    EXPECT_EQ(card().statusIndicator()->accessibleDescription(), "Off");
    screenshot("onboarding-not-detected");

    // Switched on in the settings meanwhile: coming back closes the card.
    fakes->probeAnswer = Status::granted;
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(stored("includePrivacyProtectedLocations"));
    EXPECT_TRUE(stored("hasSeenFullDiskAccessIntroduction"));
}

TEST_F(Onboarding, BecomingActiveBeforeSetUpChecksNothing)
{
    open();
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(fakes->probes, 1);
    EXPECT_EQ(fakes->verifications, 0);
}

TEST_F(Onboarding, FreshProcessConfirmationAsksForARestart)
{
    fakes->verifyAnswer = Status::granted;
    open();
    setUpAndReturn();
    EXPECT_EQ(card().title(), "Full Disk Access confirmed");
    EXPECT_EQ(card().subtitle(), "Reopen Corvalent once so the main app can use the confirmed access.");
    EXPECT_EQ(card().statusLabel(), "Full Disk Access confirmed \u00b7 restart required");
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, "Open Settings", reopenText}));
    EXPECT_TRUE(enabled(reopenText));
    auto* indicator = card().statusIndicator();
    EXPECT_EQ(indicator->accessibleDescription(), "On");
    const auto image = screenshot("onboarding-restart-required");
    EXPECT_TRUE(closeTo(pixelAt(image, indicator, QPoint(6, indicator->height() / 2)), QColor(10, 168, 158), 10))
        << "the switch is teal when on";

    // Opening the settings again forgets the confirmation.
    press("Open Settings");
    EXPECT_EQ(card().buttonTexts().last(), verifyText);
    EXPECT_EQ(fakes->settingsOpened, 2);
}

TEST_F(Onboarding, VerificationShowsProgressAndExplainsAFailure)
{
    open();
    setUpAndReturn();
    fakes->holdVerification = true;
    press(verifyText);
    EXPECT_EQ(card().statusLabel(), "Verifying in a fresh process\u2026");
    EXPECT_EQ(card().buttonTexts().last(), "Verifying Access\u2026");
    EXPECT_FALSE(enabled("Verifying Access\u2026"));
    EXPECT_EQ(card().statusIndicator()->accessibleName(), "Checking Full Disk Access");
    fakes->holdVerification = false;
    settle();
    EXPECT_EQ(card().messages(), QStringList({deniedMessage}));
    EXPECT_EQ(card().buttonTexts().last(), verifyText);

    fakes->verifyAnswer = Status::unavailable;
    press(verifyText);
    settle();
    EXPECT_EQ(card().messages(),
              QStringList({"Corvalent could not verify access. Reopen System Settings and try again."}));

    fakes->verifyAnswer = Status::granted;
    press(verifyText);
    settle();
    EXPECT_TRUE(card().messages().isEmpty());
    EXPECT_EQ(card().buttonTexts().last(), reopenText);
}

TEST_F(Onboarding, RelaunchFailureIsShownAndCanBeRetried)
{
    fakes->verifyAnswer = Status::granted;
    fakes->relaunchError = QStringLiteral("the launcher is missing");
    open();
    setUpAndReturn();
    QSettings().setValue("includePrivacyProtectedLocations", true);
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    press(reopenText);
    EXPECT_EQ(fakes->relaunches, 1);
    EXPECT_EQ(fakes->exits, 0);
    EXPECT_EQ(card().messages(), QStringList({"Corvalent could not reopen: the launcher is missing"}));
    EXPECT_TRUE(enabled(reopenText)) << "free to try again";
    EXPECT_FALSE(stored("includePrivacyProtectedLocations"));
    EXPECT_FALSE(stored("hasSeenFullDiskAccessIntroduction"));

    // Back to the settings and a failed check: both messages, the relaunch one first.
    press("Open Settings");
    fakes->verifyAnswer = Status::denied;
    press(verifyText);
    settle();
    EXPECT_EQ(card().messages(), QStringList({"Corvalent could not reopen: the launcher is missing", deniedMessage}));
    screenshot("onboarding-errors");
}

TEST_F(Onboarding, SuccessfulRelaunchExitsTheProcess)
{
    fakes->verifyAnswer = Status::granted;
    open();
    setUpAndReturn();
    press(reopenText);
    EXPECT_EQ(fakes->relaunches, 1);
    EXPECT_EQ(fakes->exits, 1);
    EXPECT_TRUE(card().messages().isEmpty());
    EXPECT_EQ(card().buttonTexts().last(), "Reopening Corvalent\u2026");
    EXPECT_FALSE(enabled("Reopening Corvalent\u2026")) << "one relaunch only";
    EXPECT_FALSE(stored("hasSeenFullDiskAccessIntroduction")) << "the new instance confirms the grant itself";
}

TEST_F(Onboarding, WithoutASettingsApplicationVerificationFollowsAtOnce)
{
    fakes->settingsApplication = false;
    open();
    press(setUpText);
    settle();
    EXPECT_EQ(fakes->settingsOpened, 1);
    EXPECT_EQ(fakes->probes, 2);
    EXPECT_EQ(fakes->verifications, 1);
    EXPECT_EQ(card().statusLabel(), "Full Disk Access not detected");
    EXPECT_TRUE(enabled(verifyText));

    fakes->verifyAnswer = Status::granted;
    press("Open Settings");
    settle();
    EXPECT_EQ(fakes->probes, 3);
    EXPECT_EQ(fakes->verifications, 2);
    EXPECT_EQ(card().statusLabel(), "Full Disk Access confirmed \u00b7 restart required");
}

TEST_F(Onboarding, ReturnPressesOnlyTheProminentButton)
{
    open();
    card().button(limitedText)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(card().button(limitedText), Qt::Key_Return);
    EXPECT_EQ(closes, 0) << "never the limited choice";
    EXPECT_FALSE(stored("hasSeenFullDiskAccessIntroduction"));
    EXPECT_EQ(fakes->settingsOpened, 1) << "the prominent Set Up";
    settle();

    // Waiting for the person: the prominent button is off, and so is Return.
    QTest::keyClick(&card(), Qt::Key_Return);
    EXPECT_EQ(fakes->verifications, 0);
    EXPECT_EQ(closes, 0);

    card().applicationBecameActive();
    settle();
    QTest::keyClick(&card(), Qt::Key_Enter);
    settle();
    EXPECT_EQ(fakes->verifications, 2) << "Verify Access, after the automatic check";
    EXPECT_EQ(card().messages(), QStringList({deniedMessage}));
    EXPECT_EQ(closes, 0);
}

TEST_F(Onboarding, OverlayIsModalAndSwallowsClicks)
{
    open();
    auto* behind = new QPushButton("Behind", host.get());
    behind->setGeometry(10, 10, 80, 30);
    behind->show();
    overlay->raise();
    int pressedBehind = 0;
    QObject::connect(behind, &QPushButton::clicked, [&pressedBehind] { ++pressedBehind; });
    QTest::mouseClick(host.get(), Qt::LeftButton, {}, QPoint(40, 25));
    EXPECT_EQ(pressedBehind, 0);

    auto* accessible = QAccessible::queryAccessibleInterface(overlay);
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().modal);
    EXPECT_EQ(accessible->role(), QAccessible::Dialog);
    EXPECT_EQ(accessible->text(QAccessible::Name), "See what is using your space");

    host->resize(1100, 800);
    EXPECT_EQ(overlay->geometry(), host->rect()) << "the scrim covers the whole window";
    EXPECT_LE(std::abs(card().geometry().center().x() - 550), 1);
}

// The texts and the prominent button for states the flow passes through.
TEST(OnboardingTexts, StatusLabelPrecedence)
{
    FullDiskAccessFlow flow;
    EXPECT_EQ(accessStatusLabel(flow), "Checking access\u2026");
    flow.accessStatus = Status::unavailable;
    EXPECT_EQ(accessStatusLabel(flow), "Unable to verify access");
    EXPECT_EQ(setupDetail(flow),
              "Corvalent not listed? Use the + button in System Settings and choose it from Applications.");
    flow.hasVerifiedFreshAccess = true;
    EXPECT_EQ(accessStatusLabel(flow), "Full Disk Access confirmed \u00b7 restart required");
    flow.isVerifyingFreshAccess = true;
    EXPECT_EQ(accessStatusLabel(flow), "Verifying in a fresh process\u2026") << "verifying comes first";
    flow.isVerifyingFreshAccess = false;
    flow.accessStatus = Status::granted;
    EXPECT_EQ(accessStatusLabel(flow), "Full Disk Access confirmed") << "granted here needs no restart";
    EXPECT_EQ(accessTitle(flow), "Full Disk Access is ready");
    EXPECT_EQ(accessSubtitle(flow), "Access confirmed. Corvalent can include protected folders in disk maps.");
    EXPECT_EQ(setupDetail(flow), "Verified by reading protected folder metadata. File contents remain unopened.");
}

TEST(OnboardingTexts, ProminentButtonFollowsTheFlow)
{
    FullDiskAccessFlow flow;
    EXPECT_EQ(primaryButton(flow).action, OnboardingAction::setUp);
    EXPECT_TRUE(primaryButton(flow).enabled) << "setting up needs no finished check";

    flow.hasOpenedSettings = true;
    flow.accessStatus = Status::granted;
    const auto carryOn = primaryButton(flow);
    EXPECT_EQ(carryOn.text, "Continue");
    EXPECT_EQ(carryOn.symbol, "checkmark");

    flow.accessStatus = Status::denied;
    EXPECT_EQ(primaryButton(flow).symbol, "checkmark.shield");
    flow.hasVerifiedFreshAccess = true;
    EXPECT_EQ(primaryButton(flow).symbol, "arrow.triangle.2.circlepath");
    EXPECT_TRUE(primaryButton(flow).enabled);
    flow.accessStatus = Status::checking;
    EXPECT_FALSE(primaryButton(flow).enabled) << "no relaunch while checking";
    flow.accessStatus = Status::denied;
    flow.isRelaunching = true;
    EXPECT_EQ(primaryButton(flow).text, "Reopening Corvalent\u2026");
    EXPECT_FALSE(primaryButton(flow).enabled);
}

}  // namespace
}  // namespace corvalent
