// The folder-access introduction with checks, the folder opener and
// relaunch standing in: every path from the first look to the reopen.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
#include <vector>

#include "onboarding_fixture.h"
#include "readable_texts.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/switch.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

TEST_F(Onboarding, GrantedAccessClosesTheCardWithoutAClick)
{
    fakes->probeAnswer = Status::granted;
    open(false);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(stored(), std::pair(true, true));
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(asked(), std::tuple(0, 1, 0)) << "coming to the front later does not start the card again";
    EXPECT_EQ(closes, 1);
}

TEST_F(Onboarding, DeniedAccessIntroducesTheChoiceInAModalOverlay)
{
    open();
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, setUpText}));
    EXPECT_EQ(stored(), std::pair(false, false)) << "a denied check turns \"include\" off; seen waits for a choice";
    EXPECT_EQ(testing::otherPlatformNames(*host), QStringList()) << "the access choices name what Linux has";
    const auto image = screenshot("onboarding-introduction");
    // The scrim darkens the area it was given by 0.22 of black, and only that.
    const auto window = host->palette().color(QPalette::Window);
    const QColor dimmed(qRound(window.red() * 0.78), qRound(window.green() * 0.78), qRound(window.blue() * 0.78));
    EXPECT_TRUE(closeTo(image.pixelColor(3, 55), dimmed, 3)) << image.pixelColor(3, 55).name().toStdString();
    EXPECT_TRUE(closeTo(image.pixelColor(300, 20), window, 1)) << "the toolbar strip stays clear";
    auto* prominent = card().button(setUpText);
    // The accent deepened until its white label reads.
    EXPECT_TRUE(closeTo(pixelAt(image, prominent, QPoint(5, prominent->height() / 2)),
                        Contrast::readable(teal, Qt::white), 10));

    // "RECOMMENDED" is tracked teal capitals on the choice's own fill, no capsule.
    auto* recommended = label("RECOMMENDED");
    ASSERT_NE(recommended, nullptr);
    EXPECT_EQ(recommended->font(), CorvalentStyle::capitalsFont(0.6));
    EXPECT_EQ(recommended->colour(), CorvalentStyle::textTint(CorvalentStyle::teal(), recommended->palette()));
    EXPECT_EQ(pixelAt(image, recommended, {1, 1}), pixelAt(image, recommended, {-3, 1}));

    const auto offCentre = [&] {
        const auto offset = card().geometry().center() - overlay->rect().center();
        return std::max(std::abs(offset.x()), std::abs(offset.y()));
    };
    EXPECT_LE(offCentre(), 1);
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(asked(), std::tuple(0, 1, 0)) << "coming to the front before Set Up checks nothing";

    // Clicks under the scrim go nowhere; the toolbar outside it stays usable.
    auto* behind = new QPushButton("Behind", host.get());
    behind->setGeometry(10, 60, 80, 30);
    behind->show();
    overlay->raise();
    int pressedBehind = 0;
    int pressedToolbar = 0;
    QObject::connect(behind, &QPushButton::clicked, [&pressedBehind] { ++pressedBehind; });
    QObject::connect(toolbar, &QPushButton::clicked, [&pressedToolbar] { ++pressedToolbar; });
    QTest::mouseClick(host.get(), Qt::LeftButton, {}, QPoint(40, 75));
    QTest::mouseClick(toolbar, Qt::LeftButton);
    EXPECT_EQ(std::pair(pressedBehind, pressedToolbar), std::pair(0, 1));
    auto* accessible = QAccessible::queryAccessibleInterface(overlay);
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().modal);
    EXPECT_EQ(accessible->text(QAccessible::Name), "See what is using your space");
    // The owner places the overlay; the card follows into the middle of the new area.
    host->resize(1100, 800);
    EXPECT_EQ(overlay->geometry(), host->rect().adjusted(0, 52, -200, -40)) << "the parent's size is not the overlay's";
    overlay->setGeometry(coveredArea());
    EXPECT_LE(offCentre(), 1);

    press(limitedText);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(stored(), std::pair(false, true));
}

// Return presses only the prominent button: Set Up, nothing while waiting for
// the person, then Verify Access once the app is back in front.
TEST_F(Onboarding, SetUpWaitsForTheAppToComeBackAndReturnPressesOnlyTheProminentButton)
{
    open();
    card().button(limitedText)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(card().button(limitedText), Qt::Key_Return);
    EXPECT_EQ(closes, 0) << "never the limited choice";
    settle();
    EXPECT_EQ(fakes->settingsOpened, 1) << "the prominent Set Up";
    EXPECT_EQ(card().statusLabel(), "Checking access\u2026");
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, openHomeText, verifyText}));
    EXPECT_FALSE(enabled(verifyText)) << "nothing to verify until the person comes back";
    QTest::keyClick(&card(), Qt::Key_Return);
    EXPECT_EQ(asked(), std::tuple(1, 1, 0)) << "no check while the person is away";
    screenshot("onboarding-waiting");

    card().applicationBecameActive();
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 2, 1)) << "a fresh process is asked too";
    EXPECT_EQ(card().statusLabel(), "Folder access not detected");
    EXPECT_TRUE(card().messages().isEmpty()) << "the automatic check reports no failure";
    // Nothing is switched on here: the picture is a shut lock, and no switch shows.
    auto* lock = dynamic_cast<SymbolView*>(card().statusIndicator());
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->symbol(), "lock.fill");
    EXPECT_EQ(lock->accessibleDescription(), "Not readable");
    for (auto* widget : card().findChildren<QWidget*>()) EXPECT_EQ(dynamic_cast<Switch*>(widget), nullptr);
    screenshot("onboarding-not-detected");

    // Verifying shows its progress, then why it failed.
    fakes->holdVerification = true;
    QTest::keyClick(&card(), Qt::Key_Enter);
    EXPECT_EQ(card().statusLabel(), "Verifying in a fresh process\u2026");
    EXPECT_EQ(card().buttonTexts().last(), "Verifying Access\u2026");
    EXPECT_FALSE(enabled("Verifying Access\u2026"));
    EXPECT_EQ(card().statusIndicator()->accessibleName(), "Checking folder access");
    releaseVerification();
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 2, 2));
    EXPECT_EQ(card().messages(), QStringList({deniedMessage}));
    EXPECT_EQ(closes, 0);
    fakes->verifyAnswer = Status::unavailable;
    press(verifyText);
    settle();
    EXPECT_EQ(card().messages(),
              QStringList({"Corvalent could not verify access. Check that your home folder exists, then try again."}));

    // Permissions fixed meanwhile: coming back closes the card.
    fakes->probeAnswer = Status::granted;
    card().applicationBecameActive();
    settle();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(stored(), std::pair(true, true));
}

// The folder opener starts but nothing of it comes to the front (no file
// manager, or one held back by focus-stealing prevention), so the app never
// leaves the front and never comes back to it: the card checks by itself
// after a while, and Verify Access can be pressed from then on.
TEST_F(Onboarding, SetUpChecksByItselfWhenTheAppNeverLeavesTheFront)
{
    recheckAfter = std::chrono::milliseconds(300);
    open();
    press(setUpText);
    EXPECT_EQ(card().statusLabel(), "Checking access\u2026");
    ASSERT_TRUE(QTest::qWaitFor([this] { return card().statusLabel() != "Checking access\u2026"; }, 15'000));
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 2, 1)) << "probed here and, silently, in a fresh process";
    EXPECT_EQ(card().statusLabel(), "Folder access not detected");
    EXPECT_TRUE(card().messages().isEmpty()) << "the check the card made itself reports no failure";
    EXPECT_TRUE(enabled(verifyText));

    // The person opens the folder again and fixes it meanwhile: Verify confirms.
    press(openHomeText);
    fakes->verifyAnswer = Status::granted;
    press(verifyText);
    settle();
    EXPECT_EQ(card().statusLabel(), "Folder access confirmed \u00b7 restart required");
    EXPECT_EQ(asked(), std::tuple(2, 3, 2)) << "after Open Home Folder the status stands: no check of its own";
}

// Tab reaches each of the card's buttons in order, named and ringed; a
// button that disables itself keeps the focus in the card, so Return still
// reaches it.
TEST_F(Onboarding, KeyboardReachesEveryButtonAndReturnKeepsWorkingAfterTheFocusMoves)
{
    open();
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    EXPECT_EQ(QApplication::focusWidget(), &card()) << "named by its title, as a dialog";
    EXPECT_EQ(card().accessibleName(), "See what is using your space");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 1, 0)) << "Set Up";
    card().applicationBecameActive();
    settle();

    std::vector<QImage> unfocused;
    for (const auto& text : {limitedText, openHomeText, verifyText}) unfocused.push_back(shown(card().button(text)));
    for (int at = 0; const auto& text : {limitedText, openHomeText, verifyText}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* button = card().button(text);
        ASSERT_TRUE(button->hasFocus()) << text.toStdString();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), text);
        EXPECT_GT(edgeChange(shown(button), unfocused[at++]), 60) << "a ring shows on " << text.toStdString();
    }
    ASSERT_TRUE(card().button(verifyText)->hasFocus());

    fakes->holdVerification = true;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(card().button(openHomeText)->hasFocus());
    releaseVerification();
    settle();
    EXPECT_TRUE(card().button(verifyText)->hasFocus()) << "the focus comes back to the prominent button";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 2, 3)) << "Return verified again, and did not open the home folder";

    // A verification that succeeds hands the focus on to Continue, which Return presses.
    fakes->verifyAnswer = Status::granted;
    fakes->probeAnswer = Status::granted;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    ASSERT_NE(card().button("Continue"), nullptr);
    EXPECT_TRUE(card().button("Continue")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(closes, 1);
}

// When nothing opens, Set Up and Open Home Folder say so and check at once.
TEST_F(Onboarding, FreshProcessConfirmationAsksForARestartAndAFailedReopenCanBeRetried)
{
    const QString relaunchFailure = "Corvalent could not reopen: the launcher is missing";
    const QString notOpened = "No file manager could open the home folder.";
    fakes->settingsApplication = false;
    fakes->verifyAnswer = Status::granted;
    fakes->relaunchError = QStringLiteral("the launcher is missing");
    open();
    press(setUpText);
    settle();
    EXPECT_EQ(asked(), std::tuple(1, 3, 1)) << "what the fresh process read is probed here again";
    EXPECT_EQ(card().statusLabel(), "Folder access confirmed \u00b7 restart required")
        << "this process still cannot read it";
    EXPECT_EQ(card().buttonTexts(), QStringList({limitedText, openHomeText, reopenText}));
    EXPECT_EQ(card().messages(), QStringList({notOpened}));
    auto* lock = dynamic_cast<SymbolView*>(card().statusIndicator());
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->symbol(), "lock.open.fill");
    EXPECT_EQ(lock->accessibleDescription(), "Readable");
    // Readers hear the "&" the button shows.
    auto* reopen = QAccessible::queryAccessibleInterface(card().button(reopenText));
    EXPECT_EQ(reopen->role(), QAccessible::Button);
    EXPECT_EQ(reopen->text(QAccessible::Name), reopenText);
    screenshot("onboarding-restart-required");
    const auto buttonsAt = [this] { return card().button(reopenText)->mapTo(host.get(), QPoint()).y(); };
    const int before = buttonsAt();

    QSettings().setValue("includePrivacyProtectedLocations", true);
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    press(reopenText);
    EXPECT_EQ(std::pair(fakes->relaunches, fakes->exits), std::pair(1, 0));
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure})) << "the line answers the last press only";
    settle();
    EXPECT_EQ(buttonsAt(), before) << "the message has its room already: nothing moves";
    EXPECT_TRUE(enabled(reopenText)) << "free to try again";
    EXPECT_EQ(stored(), std::pair(false, false)) << "the new instance confirms the grant itself";

    // Opening the home folder again forgets the confirmation and checks anew; a
    // failed verification then shows both messages, the relaunch one first.
    fakes->verifyAnswer = Status::denied;
    press(openHomeText);
    settle();
    EXPECT_EQ(asked(), std::tuple(2, 4, 2));
    EXPECT_EQ(card().statusLabel(), "Folder access not detected");
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure, notOpened}));
    press(verifyText);
    settle();
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure, deniedMessage}));
    screenshot("onboarding-errors");
    // The warnings read on both palettes (4.5:1 against what is painted behind them).
    for (const auto& palette : {lightPalette(), darkPalette()}) {
        host->setPalette(palette);
        const auto painted = host->grab().toImage();
        for (const auto& message : card().messages()) {
            auto* text = label(message);
            ASSERT_NE(text, nullptr);
            const auto behind = pixelAt(painted, text, {text->width() - 2, text->height() / 2});
            EXPECT_GE(Contrast::ratio(text->colour(), behind), 4.5) << message.toStdString();
        }
    }
    host->setPalette(lightPalette());

    // On a 960×540 screen the page area is about 457 px high: the card folds
    // its icon away and lies whole inside it, buttons and all; given room
    // again, it unfolds.
    EXPECT_FALSE(card().folded());
    overlay->setGeometry(0, 52, host->width(), 457);
    settle();
    EXPECT_TRUE(card().folded());
    EXPECT_TRUE(overlay->rect().contains(card().geometry()));
    const auto limitedAt = card().button(limitedText)->mapTo(overlay, QPoint());
    EXPECT_LE(limitedAt.y() + card().button(limitedText)->height(), overlay->height() - 24);
    screenshot("onboarding-errors-short");
    overlay->setGeometry(coveredArea());
    settle();
    EXPECT_FALSE(card().folded());

    // A file manager that opens takes its line away; a passing check clears
    // its own message; a reopen that works exits, once.
    press(openHomeText);
    settle();
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure, notOpened}));
    fakes->settingsApplication = true;
    press(openHomeText);
    settle();
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure}));
    fakes->verifyAnswer = Status::granted;
    fakes->relaunchError.reset();
    press(verifyText);
    settle();
    EXPECT_EQ(card().messages(), QStringList({relaunchFailure}));
    press(reopenText);
    EXPECT_EQ(std::pair(fakes->relaunches, fakes->exits), std::pair(2, 1));
    // What Reopen starts was worked out in the pool, by the verification that offered it.
    EXPECT_EQ(fakes->relaunched, fakes->program);
    EXPECT_EQ(fakes->programsOnGuiThread, 0);
    EXPECT_GE(fakes->programsElsewhere, 1);
    EXPECT_TRUE(card().messages().isEmpty());
    EXPECT_EQ(card().buttonTexts().last(), "Reopening Corvalent\u2026");
    EXPECT_FALSE(enabled("Reopening Corvalent\u2026")) << "one relaunch only";
}

// Every phase, as shown and as read, names what Linux has: read access to
// the person's own folders, never the other platform's permission.
TEST_F(Onboarding, EveryPhaseNamesFolderAccessAsLinuxHasIt)
{
    const auto otherNames = [this] { return testing::otherPlatformNames(*host); };
    fakes->settingsApplication = false;
    fakes->verifyAnswer = Status::granted;
    fakes->holdVerification = true;
    open();
    EXPECT_EQ(otherNames(), QStringList()) << "introduction";
    press(setUpText);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return card().statusIndicator()->accessibleName() == "Checking folder access"; }, 15'000));
    EXPECT_EQ(otherNames(), QStringList()) << "checking, with the spinner";
    releaseVerification();
    settle();
    EXPECT_EQ(card().title(), "Folder access confirmed");
    EXPECT_EQ(otherNames(), QStringList()) << "restart required, with the switch";

    // The phases a flow reaches only briefly, and the ready one the card closes on.
    for (const auto status : {Status::checking, Status::granted, Status::denied, Status::unavailable})
        for (int bits = 0; bits < 16; ++bits) {
            FullDiskAccessFlow flow;
            flow.accessStatus = status;
            flow.hasOpenedSettings = bits & 1;
            flow.hasVerifiedFreshAccess = bits & 2;
            flow.isVerifyingFreshAccess = bits & 4;
            flow.isRelaunching = bits & 8;
            for (const auto& text : {accessTitle(flow), accessSubtitle(flow), accessStatusLabel(flow),
                                     setupDetail(flow), primaryButton(flow).text})
                EXPECT_FALSE(text.contains("Full Disk Access")) << text.toStdString();
        }
    FullDiskAccessFlow ready;
    ready.accessStatus = Status::granted;
    EXPECT_EQ(accessTitle(ready), "Folder access is ready");
}

// The rules for states the flows above do not reach.
TEST(OnboardingTexts, StatusLabelPrecedenceAndNoRelaunchWhileChecking)
{
    FullDiskAccessFlow flow;
    flow.accessStatus = Status::unavailable;
    EXPECT_EQ(accessStatusLabel(flow), "Unable to verify access");
    flow.hasOpenedSettings = true;
    flow.hasVerifiedFreshAccess = true;
    flow.isVerifyingFreshAccess = true;
    EXPECT_EQ(accessStatusLabel(flow), "Verifying in a fresh process\u2026") << "verifying comes first";
    flow.isVerifyingFreshAccess = false;
    flow.accessStatus = Status::granted;
    EXPECT_EQ(accessStatusLabel(flow), "Folder access confirmed") << "granted here needs no restart";
    flow.accessStatus = Status::denied;
    EXPECT_EQ(primaryButton(flow).action, OnboardingAction::relaunch);
    EXPECT_TRUE(primaryButton(flow).enabled);
    flow.accessStatus = Status::checking;
    EXPECT_FALSE(primaryButton(flow).enabled) << "no relaunch while checking";
}

}  // namespace
}  // namespace corvalent
