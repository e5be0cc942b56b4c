#include "ui/onboarding/full_disk_access_introduction.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "models/preferences.h"
#include "ui/onboarding/access_choices.h"
#include "ui/onboarding/access_header.h"
#include "ui/onboarding/access_notes.h"
#include "ui/onboarding/setup_steps.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/panel.h"

namespace corvalent {
namespace {

// What a fresh process answered and, when it could read, what this one reads now.
struct FreshAccessAnswer {
    FullDiskAccessStatus fresh = FullDiskAccessStatus::unavailable;
    FullDiskAccessStatus here = FullDiskAccessStatus::unavailable;
    std::string program;  // what Reopen starts, once a fresh process could read
};

}  // namespace

FullDiskAccessIntroduction::FullDiskAccessIntroduction(OnboardingEnvironment environment, std::function<void()> onClose,
                                                       QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)), onClose_(std::move(onClose))
{
    setFixedWidth(620);
    setFont(CorvalentStyle::font(TextStyle::body));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new AccessHeader(this);
    layout->addWidget(header_);
    layout->addWidget(buildBody());
    sync();
    recheck_ = new QTimer(this);
    recheck_->setSingleShot(true);
    recheck_->setInterval(environment_.recheckAfter);
    connect(recheck_, &QTimer::timeout, this, [this] {
        // Still waiting for the program to come back: check without it.
        if (!closed_ && flow_.hasOpenedSettings && flow_.accessStatus == FullDiskAccessStatus::checking)
            verifyAccessAfterFocus();
    });
    if (auto* application = qGuiApp) {
        connect(application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) applicationBecameActive();
        });
    }
}

FullDiskAccessIntroduction::~FullDiskAccessIntroduction()
{
    probeTask_.cancel();
    verifyTask_.cancel();
    openTask_.cancel();
}

QWidget* FullDiskAccessIntroduction::buildBody()
{
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(28, 22, 28, 24);
    column->setSpacing(18);

    // The choices and the setup steps take turns in the same place.
    auto* middle = new QWidget(body);
    auto* regions = new QVBoxLayout(middle);
    regions->setContentsMargins(0, 0, 0, 0);
    choices_ = new AccessChoices(middle);
    setupSteps_ = new SetupSteps(middle);
    setupSteps_->hide();
    regions->addWidget(choices_);
    regions->addWidget(setupSteps_);
    column->addWidget(middle);
    column->addWidget(new Divider(Qt::Horizontal, 0, body));
    column->addWidget(privacyNote());
    messages_ = new AccessMessages(body);
    column->addWidget(messages_);
    column->addLayout(buildActions());
    return body;
}

QHBoxLayout* FullDiskAccessIntroduction::buildActions()
{
    constexpr auto large = Button::Size::large;
    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(12);
    limited_ = new Button(Button::Kind::plain, QStringLiteral("Use limited scanning"), this, large);
    openSettings_ = new Button(Button::Kind::bordered, QStringLiteral("Open Home Folder"), this, large);
    primary_ = new Button(Button::Kind::prominent, {}, this, large);
    primary_->setDefault(true);
    // Return goes to the prominent button wherever the focus is (keyPressEvent).
    limited_->setIgnoresReturn(true);
    openSettings_->setIgnoresReturn(true);
    actions->addWidget(limited_);
    actions->addStretch(1);
    actions->addWidget(openSettings_);
    actions->addWidget(primary_);

    connect(limited_, &QPushButton::clicked, this, [this] { chooseLimitedScanning(); });
    connect(openSettings_, &QPushButton::clicked, this, [this] { openSettingsAgain(); });
    connect(primary_, &QPushButton::clicked, this, [this] { pressPrimary(); });
    return actions;
}

// Every text, button and indicator from the current state.
void FullDiskAccessIntroduction::sync()
{
    header_->setTexts(accessTitle(flow_), accessSubtitle(flow_));
    setAccessibleName(header_->title());
    setupSteps_->setFlow(flow_);
    messages_->setMessages(flow_.relaunchError, flow_.accessVerificationError);
    // Messages only come after setup starts; from then on their room is kept.
    messages_->setReserved(flow_.hasOpenedSettings);

    openSettings_->setVisible(flow_.hasOpenedSettings);
    const auto primary = primaryButton(flow_);
    // A disabled button passes its focus on along the window's chain, which
    // may leave the card, and Return with it: keep the focus here instead.
    // It comes back once the button is enabled again, if the focus stayed put.
    auto* focused = window()->focusWidget();
    if (!primary.enabled && focused == primary_) {
        openSettings_->setFocus(Qt::OtherFocusReason);
        focusLent_ = true;
    }
    primary_->setText(primary.text);
    primary_->setSymbol(primary.symbol);
    primary_->setEnabled(primary.enabled);
    if (primary.enabled && focusLent_) {
        focusLent_ = false;
        if (focused == openSettings_) primary_->setFocus(Qt::OtherFocusReason);
    }
    primary_->updateGeometry();

    if (flow_.hasOpenedSettings != showingSetup_) swapRegions();
}

void FullDiskAccessIntroduction::swapRegions()
{
    QWidget* from = showingSetup_ ? static_cast<QWidget*>(setupSteps_) : choices_;
    QWidget* to = showingSetup_ ? choices_ : static_cast<QWidget*>(setupSteps_);
    showingSetup_ = !showingSetup_;
    delete fadeCover_.data();
    fadeCover_ = AppMotion::fadeOutCover(from, CorvalentStyle::windowBackground(palette()));
    from->hide();
    to->show();
    if (fadeCover_) fadeCover_->raise();
}

// ---- the flow -----------------------------------------------------------------

void FullDiskAccessIntroduction::refreshAccessStatus(bool finishIfGranted, std::function<void()> then)
{
    recheck_->stop();
    flow_.accessStatus = FullDiskAccessStatus::checking;
    sync();
    // A later check replaces an earlier one still running.
    const auto generation = ++probeGeneration_;
    auto probe = environment_.probe;
    probeTask_ = BackgroundTask::start(
        this,
        [probe](std::stop_token) { return probe ? probe() : FullDiskAccessStatus::unavailable; },
        [this, generation, finishIfGranted, then = std::move(then)](FullDiskAccessStatus status) {
            if (generation != probeGeneration_) return;
            if (applyAccessStatus(status, finishIfGranted)) return;
            sync();
            if (then) then();
        },
        {.userInitiated = true});
}

bool FullDiskAccessIntroduction::applyAccessStatus(FullDiskAccessStatus status, bool finishIfGranted)
{
    flow_.accessStatus = status;
    auto& preferences = Preferences::standard();
    if (status != FullDiskAccessStatus::granted) {
        preferences.setIncludePrivacyProtectedLocations(false);
        return false;
    }
    preferences.setIncludePrivacyProtectedLocations(true);
    flow_.hasOpenedSettings = true;
    if (!finishIfGranted) return false;
    preferences.setHasSeenFullDiskAccessIntroduction(true);
    sync();
    finish();
    return true;
}

void FullDiskAccessIntroduction::verifyAccessAfterFocus()
{
    refreshAccessStatus(true, [this] {
        if (flow_.accessStatus != FullDiskAccessStatus::granted && !flow_.hasVerifiedFreshAccess)
            verifyFreshProcessAccess(false);
    });
}

void FullDiskAccessIntroduction::verifyFreshProcessAccess(bool reportFailure)
{
    if (flow_.isVerifyingFreshAccess) return;
    flow_.isVerifyingFreshAccess = true;
    if (reportFailure) flow_.accessVerificationError.reset();
    sync();
    auto verify = environment_.verifyFresh;
    auto probe = environment_.probe;
    auto programPath = environment_.programPath;
    verifyTask_ = BackgroundTask::start(
        this,
        [verify, probe, programPath](std::stop_token) {
            FreshAccessAnswer answer;
            answer.fresh = verify ? verify() : FullDiskAccessStatus::unavailable;
            if (answer.fresh != FullDiskAccessStatus::granted) return answer;
            // A permission applies to running programs at once: what a fresh
            // process could read, this one can usually read now too.
            answer.here = probe ? probe() : FullDiskAccessStatus::unavailable;
            // The card offers Reopen now: what it starts is worked out here,
            // where a search for it may wait.
            if (programPath) answer.program = programPath();
            return answer;
        },
        [this, reportFailure](FreshAccessAnswer answer) {
            flow_.isVerifyingFreshAccess = false;
            if (answer.fresh == FullDiskAccessStatus::granted) {
                flow_.accessVerificationError.reset();
                flow_.hasVerifiedFreshAccess = true;
                reopenProgram_ = std::move(answer.program);
                // The newest answer here: a probe still out must not overwrite it.
                ++probeGeneration_;
                applyAccessStatus(answer.here, false);
            } else {
                flow_.hasVerifiedFreshAccess = false;
                if (reportFailure) flow_.accessVerificationError = verificationFailure(answer.fresh);
            }
            sync();
        },
        {.userInitiated = true});
}

void FullDiskAccessIntroduction::relaunch()
{
    if (!flow_.hasVerifiedFreshAccess || flow_.isRelaunching) return;
    flow_.isRelaunching = true;
    flow_.relaunchError.reset();
    sync();
    // The new instance starts from the introduction and confirms the grant
    // itself; each setter has reached the file before the relaunch below.
    Preferences::standard().setHasSeenFullDiskAccessIntroduction(false);
    Preferences::standard().setIncludePrivacyProtectedLocations(false);
    const auto error = environment_.relaunch ? environment_.relaunch(reopenProgram_) : std::optional<QString>(QString());
    if (error) {
        flow_.relaunchError = QStringLiteral("Corvalent could not reopen: ") + *error;
        flow_.isRelaunching = false;
        sync();
        return;
    }
    const auto exitProcess = environment_.exitProcess;
    if (exitProcess) exitProcess();
}

void FullDiskAccessIntroduction::setUp()
{
    flow_.hasOpenedSettings = true;
    flow_.hasVerifiedFreshAccess = false;
    flow_.accessVerificationError.reset();
    flow_.accessStatus = FullDiskAccessStatus::checking;
    sync();
    openSettingsOrVerify();
}

void FullDiskAccessIntroduction::openSettingsAgain()
{
    flow_.hasVerifiedFreshAccess = false;
    flow_.accessVerificationError.reset();
    sync();
    openSettingsOrVerify();
}

void FullDiskAccessIntroduction::openSettingsOrVerify()
{
    // The opener is looked up and started off the GUI thread (a folder in
    // PATH may lie on a share that does not answer); a later press replaces it.
    recheck_->stop();
    const auto generation = ++openGeneration_;
    auto open = environment_.openSettings;
    openTask_ = BackgroundTask::start(
        this, [open](std::stop_token) { return open && open(); },
        [this, generation](bool opened) {
            if (generation != openGeneration_ || closed_) return;
            messages_->setOpenFailed(!opened);
            // With nothing opened, nothing will bring us back to the front; and
            // what opened may never come to the front itself.
            if (opened)
                recheck_->start();
            else
                verifyAccessAfterFocus();
        },
        {.userInitiated = true, .ownThread = true});
}

void FullDiskAccessIntroduction::chooseLimitedScanning()
{
    Preferences::standard().setIncludePrivacyProtectedLocations(false);
    Preferences::standard().setHasSeenFullDiskAccessIntroduction(true);
    finish();
}

void FullDiskAccessIntroduction::pressPrimary()
{
    const auto primary = primaryButton(flow_);
    if (!primary.enabled || closed_) return;
    // The line about the home folder answers the press that opened it.
    messages_->setOpenFailed(false);
    switch (primary.action) {
    case OnboardingAction::setUp: setUp(); break;
    case OnboardingAction::continueAfterGrant: refreshAccessStatus(true); break;
    case OnboardingAction::verify: verifyFreshProcessAccess(true); break;
    case OnboardingAction::relaunch: relaunch(); break;
    }
}

void FullDiskAccessIntroduction::finish()
{
    // Closed for good: later activations and late answers change nothing.
    closed_ = true;
    recheck_->stop();
    probeTask_.cancel();
    verifyTask_.cancel();
    openTask_.cancel();
    // The owner may delete the card from here: call a copy, touch nothing after.
    const auto close = onClose_;
    if (close) close();
}

void FullDiskAccessIntroduction::applicationBecameActive()
{
    if (flow_.hasOpenedSettings && !closed_) verifyAccessAfterFocus();
}

// ---- widget plumbing --------------------------------------------------------------

int FullDiskAccessIntroduction::fitHeight(int room)
{
    const auto natural = [this] { return std::max(heightForWidth(width()), minimumSizeHint().height()); };
    const int height = natural();
    const int full = header_->folded() ? height + header_->foldSaving() : height;
    if ((full > room) == header_->folded()) return height;
    header_->setFolded(full > room);
    return natural();
}

bool FullDiskAccessIntroduction::folded() const
{
    return header_->folded();
}

QString FullDiskAccessIntroduction::title() const
{
    return header_->title();
}
QString FullDiskAccessIntroduction::subtitle() const
{
    return header_->subtitle();
}
QString FullDiskAccessIntroduction::statusLabel() const
{
    return setupSteps_->statusLabel();
}
QString FullDiskAccessIntroduction::setupDetail() const
{
    return setupSteps_->detail();
}
QWidget* FullDiskAccessIntroduction::statusIndicator() const
{
    return setupSteps_->statusIndicator();
}
QStringList FullDiskAccessIntroduction::messages() const
{
    return messages_->messages();
}
bool FullDiskAccessIntroduction::showsSetupSteps() const
{
    return setupSteps_->isVisibleTo(this);
}

QStringList FullDiskAccessIntroduction::buttonTexts() const
{
    QStringList texts;
    for (auto* button : {limited_, openSettings_, primary_})
        if (button->isVisibleTo(this)) texts << button->text();
    return texts;
}

QAbstractButton* FullDiskAccessIntroduction::button(const QString& text) const
{
    for (auto* button : {limited_, openSettings_, primary_})
        if (button->isVisibleTo(this) && button->text() == text) return button;
    return nullptr;
}

bool FullDiskAccessIntroduction::busy() const
{
    return probeTask_.running() || verifyTask_.running() || openTask_.running();
}

void FullDiskAccessIntroduction::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (started_) return;
    started_ = true;
    refreshAccessStatus(true);
}

void FullDiskAccessIntroduction::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 18, 18);
    painter.fillPath(shape, CorvalentStyle::windowBackground(palette()));
    painter.setClipPath(shape);
    painter.fillRect(header_->geometry(), CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.045));
}

// ---- keyboard -----------------------------------------------------------------

void FullDiskAccessIntroduction::keyPressEvent(QKeyEvent* event)
{
    // Return and Enter go to the prominent button only, wherever the focus is.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (primary_->isVisibleTo(this) && primary_->isEnabled()) primary_->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FullDiskAccessIntroduction::takeFocus()
{
    // Not a tab stop itself: focus given here goes from the card to its first button on Tab.
    setFocus(Qt::OtherFocusReason);
}

}  // namespace corvalent
