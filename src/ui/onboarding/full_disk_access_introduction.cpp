#include "ui/onboarding/full_disk_access_introduction.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/switch.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace {

const QString includeKey = QStringLiteral("includePrivacyProtectedLocations");
const QString seenKey = QStringLiteral("hasSeenFullDiskAccessIntroduction");

QColor tealAt(double alpha)
{
    return CorvalentStyle::withAlpha(CorvalentStyle::teal(), alpha);
}

Tone tealTone()
{
    return Tones::fixed(CorvalentStyle::teal());
}

ElidedLabel* makeLabel(const QString& text, const QFont& font, Tone tone, bool wrap)
{
    auto* label = new ElidedLabel(text, font, std::move(tone));
    label->setWordWrap(wrap);
    return label;
}

ElidedLabel* captionLabel(Tone tone, const QString& text = {})
{
    return makeLabel(text, CorvalentStyle::font(TextStyle::caption), std::move(tone), true);
}

// A symbol before a caption that wraps beside it.
QWidget* noteRow(const QString& symbol, Tone tone, ElidedLabel* label)
{
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(7);
    line->addWidget(new SymbolView(symbol, 12, std::move(tone), {14, 14}), 0, Qt::AlignTop);
    line->addWidget(label, 1);
    return row;
}

QString verificationFailure(FullDiskAccessStatus status)
{
    if (status == FullDiskAccessStatus::denied)
        return QStringLiteral("Your folders\u2019 permissions still refuse reading. Check their owner and permissions, "
                              "then verify again.");
    return QStringLiteral("Corvalent could not verify access. Check that your home folder exists, then try again.");
}

// The header's drive on two teal circles, with the open-lock badge.
class AccessIcon : public QWidget {
public:
    explicit AccessIcon(QWidget* parent = nullptr) : QWidget(parent) { setFixedSize(84, 84); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(width() / 2.0, height() / 2.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tealAt(0.11));
        painter.drawEllipse(centre, 41, 41);
        painter.setPen(QPen(tealAt(0.18), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, 33, 33);

        const auto ratio = devicePixelRatioF();
        const auto drive = Symbols::pixmap("externaldrive.fill", CorvalentStyle::teal(), 29, ratio);
        painter.drawPixmap(centre - QPointF(14.5, 14.5), drive);

        const auto badgeCentre = centre + QPointF(27, 27);
        painter.setPen(Qt::NoPen);
        painter.setBrush(CorvalentStyle::windowBackground(palette()));
        painter.drawEllipse(badgeCentre, 11.5 + 3, 11.5 + 3);
        painter.setBrush(CorvalentStyle::teal());
        painter.drawEllipse(badgeCentre, 11.5, 11.5);
        const auto lock = Symbols::pixmap("lock.open.fill", Qt::white, 11, ratio);
        painter.drawPixmap(badgeCentre - QPointF(5.5, 5.5), lock);
    }
};

}  // namespace

// ---- texts -----------------------------------------------------------------

bool accessConfirmed(const FullDiskAccessFlow& flow)
{
    return flow.accessStatus == FullDiskAccessStatus::granted || flow.hasVerifiedFreshAccess;
}

QString accessTitle(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted) return QStringLiteral("Full Disk Access is ready");
    if (flow.hasVerifiedFreshAccess) return QStringLiteral("Full Disk Access confirmed");
    if (flow.hasOpenedSettings) return QStringLiteral("Check your folder permissions");
    return QStringLiteral("See what is using your space");
}

QString accessSubtitle(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return QStringLiteral("Access confirmed. Corvalent can include protected folders in disk maps.");
    if (flow.hasVerifiedFreshAccess)
        return QStringLiteral("Reopen Corvalent once so the main app can use the confirmed access.");
    if (flow.hasOpenedSettings)
        return QStringLiteral("Corvalent reads your folders directly; nothing needs switching on. Check their "
                              "permissions, then verify below.");
    return QStringLiteral("Full Disk Access lets Corvalent build a complete, accurate storage map.");
}

QString accessStatusLabel(const FullDiskAccessFlow& flow)
{
    if (flow.isVerifyingFreshAccess) return QStringLiteral("Verifying in a fresh process\u2026");
    if (flow.hasVerifiedFreshAccess && flow.accessStatus != FullDiskAccessStatus::granted)
        return QStringLiteral("Full Disk Access confirmed \u00b7 restart required");
    switch (flow.accessStatus) {
    case FullDiskAccessStatus::checking: return QStringLiteral("Checking access\u2026");
    case FullDiskAccessStatus::granted: return QStringLiteral("Full Disk Access confirmed");
    case FullDiskAccessStatus::denied: return QStringLiteral("Full Disk Access not detected");
    case FullDiskAccessStatus::unavailable: break;
    }
    return QStringLiteral("Unable to verify access");
}

QString setupDetail(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return QStringLiteral("Verified by reading protected folder metadata. File contents remain unopened.");
    if (flow.hasVerifiedFreshAccess)
        return QStringLiteral(
            "A fresh Corvalent process verified protected-folder access. Reopen the main app to apply it.");
    if (flow.accessStatus == FullDiskAccessStatus::denied)
        return QStringLiteral("Your folders\u2019 permissions on this computer refuse reading. Check that your account "
                              "owns them and may read and open them.");
    return QStringLiteral("Nothing needs switching on: Corvalent reads your home, Desktop, Documents and Downloads "
                          "folders directly.");
}

OnboardingPrimaryButton primaryButton(const FullDiskAccessFlow& flow)
{
    const bool checking = flow.accessStatus == FullDiskAccessStatus::checking;
    if (!flow.hasOpenedSettings) return {OnboardingAction::setUp, QStringLiteral("Set Up Full Disk Access"), {}, true};
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return {OnboardingAction::continueAfterGrant, QStringLiteral("Continue"), QStringLiteral("checkmark"), true};
    if (!flow.hasVerifiedFreshAccess)
        return {OnboardingAction::verify,
                flow.isVerifyingFreshAccess ? QStringLiteral("Verifying Access\u2026") : QStringLiteral("Verify Access"),
                QStringLiteral("checkmark.shield"), !checking && !flow.isVerifyingFreshAccess};
    return {OnboardingAction::relaunch,
            flow.isRelaunching ? QStringLiteral("Reopening Corvalent\u2026") : QStringLiteral("Quit & Reopen Corvalent"),
            QStringLiteral("arrow.triangle.2.circlepath"), !checking && !flow.isRelaunching};
}

OnboardingEnvironment OnboardingEnvironment::system()
{
    OnboardingEnvironment environment;
    environment.probe = [] { return FullDiskAccessProbe::currentStatus(); };
    environment.verifyFresh = [] { return FullDiskAccessVerifier::checkInFreshProcess(); };
    environment.openSettings = [] { return false; };
    environment.relaunch = []() -> std::optional<QString> {
        // The running executable itself, even when started through a link.
        const auto program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        if (program.isEmpty()) return QStringLiteral("its program file could not be found.");
        QProcess process;
        process.setProgram(program);
        if (!process.startDetached()) return process.errorString();
        return std::nullopt;
    };
    environment.exitProcess = [] { std::exit(0); };
    return environment;
}


// ---- the card ------------------------------------------------------------------

FullDiskAccessIntroduction::FullDiskAccessIntroduction(OnboardingEnvironment environment, std::function<void()> onClose,
                                                       QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)), onClose_(std::move(onClose))
{
    setFixedWidth(620);
    setFocusPolicy(Qt::StrongFocus);
    build();
    sync();
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
}

void FullDiskAccessIntroduction::build()
{
    setFont(CorvalentStyle::font(TextStyle::body));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = buildHeader();
    layout->addWidget(header_);

    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(22, 28, 22, 24);
    column->setSpacing(18);

    middle_ = new QWidget(body);
    auto* middle = new QVBoxLayout(middle_);
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    choices_ = buildChoices();
    setupSteps_ = buildSetupSteps();
    middle->addWidget(choices_);
    middle->addWidget(setupSteps_);
    setupSteps_->hide();
    column->addWidget(middle_);
    column->addWidget(new Divider);

    column->addWidget(noteRow("checkmark.shield.fill", Tones::secondary(),
                              captionLabel(Tones::secondary(), QStringLiteral("Scans stay on your computer. Corvalent "
                                                                              "only reads file sizes and never opens "
                                                                              "file contents."))));
    const auto orange = Tones::fixed(CorvalentStyle::orange());
    relaunchErrorText_ = captionLabel(orange);
    verificationErrorText_ = captionLabel(orange);
    relaunchErrorRow_ = noteRow("exclamationmark.triangle.fill", orange, relaunchErrorText_);
    verificationErrorRow_ = noteRow("lock.slash.fill", orange, verificationErrorText_);
    column->addWidget(relaunchErrorRow_);
    column->addWidget(verificationErrorRow_);
    column->addLayout(buildActions());
    layout->addWidget(body);
}

QHBoxLayout* FullDiskAccessIntroduction::buildActions()
{
    constexpr auto large = Button::Size::large;
    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(10);
    limited_ = new Button(Button::Kind::plain, QStringLiteral("Use limited scanning"), nullptr, large);
    openSettings_ = new Button(Button::Kind::bordered, QStringLiteral("Open Home Folder"), nullptr, large);
    primary_ = new Button(Button::Kind::prominent, {}, nullptr, large);
    primary_->setDefault(true);
    actions->addWidget(limited_);
    actions->addStretch(1);
    actions->addWidget(openSettings_);
    actions->addWidget(primary_);

    connect(limited_, &QPushButton::clicked, this, [this] { chooseLimitedScanning(); });
    connect(openSettings_, &QPushButton::clicked, this, [this] { openSettingsAgain(); });
    connect(primary_, &QPushButton::clicked, this, [this] { pressPrimary(); });
    return actions;
}

QWidget* FullDiskAccessIntroduction::buildHeader()
{
    auto* header = new QWidget(this);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(30, 34, 30, 24);
    column->setSpacing(13);
    column->addWidget(new AccessIcon(header), 0, Qt::AlignHCenter);
    title_ = makeLabel({}, CorvalentStyle::font(24, QFont::Bold), Tones::primary(), false);
    title_->setAlignment(Qt::AlignHCenter);
    column->addWidget(title_, 0, Qt::AlignHCenter);
    subtitle_ = makeLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary(), true);
    subtitle_->setAlignment(Qt::AlignHCenter);
    subtitle_->setFixedWidth(460);
    column->addWidget(subtitle_, 0, Qt::AlignHCenter);
    return header;
}

// One way to scan: its symbol, its title (with a badge when recommended) and what it means.
QWidget* FullDiskAccessIntroduction::buildChoice(const Choice& choice)
{
    auto* box = new PanelSurface(11);
    box->setColours(choice.fill, choice.outline);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(14, 14, 14, 14);
    line->setSpacing(10);
    line->addWidget(new SymbolView(choice.symbol, 16, choice.symbolTone, {24, 24}), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* heading = new QHBoxLayout;
    heading->setSpacing(7);
    heading->addWidget(
        makeLabel(choice.title, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary(), false));
    if (choice.recommended)
        heading->addWidget(new Badge(QStringLiteral("RECOMMENDED"), CorvalentStyle::teal()), 0, Qt::AlignVCenter);
    heading->addStretch(1);
    texts->addLayout(heading);
    texts->addWidget(captionLabel(Tones::secondary(), choice.detail));
    texts->addStretch(1);
    line->addLayout(texts, 1);
    return box;
}

QWidget* FullDiskAccessIntroduction::buildChoices()
{
    auto* region = new QWidget;
    auto* column = new QVBoxLayout(region);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(buildChoice({
        .symbol = "checkmark.circle.fill",
        .symbolTone = tealTone(),
        .title = QStringLiteral("Complete storage map"),
        .recommended = true,
        .detail = QStringLiteral("Includes Desktop, Downloads, Mail, Messages, Photos, cloud storage, and app data."),
        .fill = Tones::fixed(tealAt(0.055)),
        .outline = Tones::fixed(tealAt(0.18)),
    }));
    column->addWidget(buildChoice({
        .symbol = "hand.raised.fill",
        .symbolTone = Tones::secondary(),
        .title = QStringLiteral("Limited scan"),
        .recommended = false,
        .detail = QStringLiteral(
            "Protected folders are skipped, so totals can be lower than the space the system reports."),
        .fill = Tones::primary(0.025),
        .outline = CorvalentStyle::softBorder,
    }));
    return region;
}

QWidget* FullDiskAccessIntroduction::buildSetupSteps()
{
    auto* box = new PanelSurface(12);
    box->setColours(Tones::primary(0.025), Tones::fixed(tealAt(0.18)));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* program = new QHBoxLayout;
    program->setContentsMargins(16, 16, 16, 16);
    program->setSpacing(14);
    program->addWidget(new SymbolView("externaldrive.fill", 42, tealTone()));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(makeLabel(QStringLiteral("Corvalent"), CorvalentStyle::font(TextStyle::body, QFont::DemiBold),
                               Tones::primary(), false));
    status_ = makeLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary(), false);
    names->addWidget(status_);
    program->addLayout(names, 1);
    spinner_ = new Spinner;
    spinner_->setAccessibleName(QStringLiteral("Checking Full Disk Access"));
    // A picture of the switch the person would turn on: it only shows the state.
    switch_ = new Switch;
    switch_->setDisplayOnly(true);
    switch_->setAccessibleName(QStringLiteral("Full Disk Access switch"));
    program->addWidget(spinner_, 0, Qt::AlignVCenter);
    program->addWidget(switch_, 0, Qt::AlignVCenter);
    column->addLayout(program);

    column->addWidget(new Divider);

    auto* hint = new QHBoxLayout;
    hint->setContentsMargins(14, 14, 14, 14);
    hint->setSpacing(10);
    hintSymbol_ = new SymbolView("plus.circle", 14, Tones::secondary(), {18, 18});
    hint->addWidget(hintSymbol_, 0, Qt::AlignTop);
    detail_ = captionLabel(Tones::secondary());
    hint->addWidget(detail_, 1);
    column->addLayout(hint);
    return box;
}

// Every text, button and indicator from the current state.
void FullDiskAccessIntroduction::sync()
{
    title_->setText(accessTitle(flow_));
    subtitle_->setText(accessSubtitle(flow_));
    status_->setText(accessStatusLabel(flow_));
    detail_->setText(corvalent::setupDetail(flow_));

    const bool confirmed = accessConfirmed(flow_);
    const bool waiting = flow_.accessStatus == FullDiskAccessStatus::checking || flow_.isVerifyingFreshAccess;
    status_->setTone(confirmed ? tealTone() : Tones::secondary());
    // Set while hidden, the switch shows its state at once rather than sliding.
    switch_->setChecked(confirmed);
    spinner_->setVisible(waiting);
    switch_->setVisible(!waiting);
    hintSymbol_->setSymbol(confirmed ? "checkmark.circle.fill" : "plus.circle");
    hintSymbol_->setTone(confirmed ? tealTone() : Tones::secondary());

    relaunchErrorText_->setText(flow_.relaunchError.value_or(QString()));
    relaunchErrorRow_->setVisible(flow_.relaunchError.has_value());
    verificationErrorText_->setText(flow_.accessVerificationError.value_or(QString()));
    verificationErrorRow_->setVisible(flow_.accessVerificationError.has_value());

    openSettings_->setVisible(flow_.hasOpenedSettings);
    const auto primary = primaryButton(flow_);
    primary_->setText(primary.text);
    primary_->setSymbol(primary.symbol);
    primary_->setEnabled(primary.enabled);
    primary_->updateGeometry();

    if (flow_.hasOpenedSettings != showingSetup_) swapRegions();
}

void FullDiskAccessIntroduction::swapRegions()
{
    auto* from = showingSetup_ ? setupSteps_ : choices_;
    auto* to = showingSetup_ ? choices_ : setupSteps_;
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
            flow_.accessStatus = status;
            QSettings settings;
            if (status == FullDiskAccessStatus::granted) {
                settings.setValue(includeKey, true);
                flow_.hasOpenedSettings = true;
                if (finishIfGranted) {
                    settings.setValue(seenKey, true);
                    sync();
                    finish();
                    return;
                }
            } else {
                settings.setValue(includeKey, false);
            }
            sync();
            if (then) then();
        },
        {.userInitiated = true});
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
    verifyTask_ = BackgroundTask::start(
        this,
        [verify](std::stop_token) { return verify ? verify() : FullDiskAccessStatus::unavailable; },
        [this, reportFailure](FullDiskAccessStatus status) {
            flow_.isVerifyingFreshAccess = false;
            if (status == FullDiskAccessStatus::granted) {
                flow_.accessVerificationError.reset();
                flow_.hasVerifiedFreshAccess = true;
            } else {
                flow_.hasVerifiedFreshAccess = false;
                if (reportFailure) flow_.accessVerificationError = verificationFailure(status);
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
    {
        // The new instance starts from the introduction and confirms the grant itself.
        QSettings settings;
        settings.setValue(includeKey, false);
        settings.setValue(seenKey, false);
        settings.sync();
    }
    const auto error = environment_.relaunch ? environment_.relaunch() : std::optional<QString>(QString());
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
    const bool opened = environment_.openSettings && environment_.openSettings();
    // With nothing opened, nothing will bring us back to the front.
    if (!opened) verifyAccessAfterFocus();
}

void FullDiskAccessIntroduction::chooseLimitedScanning()
{
    QSettings settings;
    settings.setValue(includeKey, false);
    settings.setValue(seenKey, true);
    finish();
}

void FullDiskAccessIntroduction::pressPrimary()
{
    const auto primary = primaryButton(flow_);
    if (!primary.enabled || closed_) return;
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
    probeTask_.cancel();
    verifyTask_.cancel();
    // The owner may delete the card from here: call a copy, touch nothing after.
    const auto close = onClose_;
    if (close) close();
}

void FullDiskAccessIntroduction::applicationBecameActive()
{
    if (flow_.hasOpenedSettings && !closed_) verifyAccessAfterFocus();
}

// ---- widget plumbing --------------------------------------------------------------

QString FullDiskAccessIntroduction::title() const { return title_->text(); }
QString FullDiskAccessIntroduction::subtitle() const { return subtitle_->text(); }
QString FullDiskAccessIntroduction::statusLabel() const { return status_->text(); }
QString FullDiskAccessIntroduction::setupDetail() const { return detail_->text(); }

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

QWidget* FullDiskAccessIntroduction::statusIndicator() const
{
    if (spinner_->isVisibleTo(this)) return spinner_;
    return switch_;
}

QStringList FullDiskAccessIntroduction::messages() const
{
    QStringList texts;
    if (relaunchErrorRow_->isVisibleTo(this)) texts << relaunchErrorText_->text();
    if (verificationErrorRow_->isVisibleTo(this)) texts << verificationErrorText_->text();
    return texts;
}

bool FullDiskAccessIntroduction::busy() const
{
    return probeTask_.running() || verifyTask_.running();
}

bool FullDiskAccessIntroduction::showsSetupSteps() const
{
    return setupSteps_->isVisibleTo(this);
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
    painter.fillRect(header_->geometry(), tealAt(0.045));
}

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

// ---- the overlay -----------------------------------------------------------------

namespace {

// Assistive technology meets the overlay as a modal dialog named by the card's title.
class OverlayAccessible : public QAccessibleWidget {
public:
    explicit OverlayAccessible(FullDiskAccessOverlay* overlay) : QAccessibleWidget(overlay, QAccessible::Dialog) {}

    QAccessible::State state() const override
    {
        auto state = QAccessibleWidget::state();
        state.modal = true;
        return state;
    }
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return static_cast<FullDiskAccessOverlay*>(widget())->card().title();
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface* overlayAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(FullDiskAccessOverlay::staticMetaObject.className()))
        if (auto* overlay = qobject_cast<FullDiskAccessOverlay*>(object)) return new OverlayAccessible(overlay);
    return nullptr;
}

}  // namespace

FullDiskAccessOverlay::FullDiskAccessOverlay(OnboardingEnvironment environment, std::function<void()> onClose,
                                             QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(overlayAccessible);
        return true;
    }();
    (void)installed;

    card_ = new FullDiskAccessIntroduction(std::move(environment), std::move(onClose), this);
    auto* shadow = new QGraphicsDropShadowEffect(card_);
    shadow->setColor(QColor(0, 0, 0, static_cast<int>(std::lround(0.18 * 255))));
    shadow->setBlurRadius(30);
    shadow->setOffset(0, 12);
    card_->setGraphicsEffect(shadow);

    if (parent != nullptr) {
        parent->installEventFilter(this);
        setGeometry(parent->rect());
    }
    placeCard();
}

void FullDiskAccessOverlay::placeCard()
{
    const int width = card_->width();
    const int height = card_->hasHeightForWidth() ? card_->heightForWidth(width) : card_->sizeHint().height();
    QRect area(0, 0, width, std::max(height, card_->minimumSizeHint().height()));
    area.moveCenter(rect().center());
    // Too little room: keep the top of the card, and its buttons nearest, in view.
    if (area.top() < 0) area.moveTop(0);
    card_->setGeometry(area);
}

bool FullDiskAccessOverlay::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::Resize:
    case QEvent::Show:
        placeCard();
        if (event->type() == QEvent::Show) card_->setFocus(Qt::OtherFocusReason);
        break;
    default: break;
    }
    return QWidget::event(event);
}

bool FullDiskAccessOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void FullDiskAccessOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, static_cast<int>(std::lround(0.22 * 255))));
}

// The scrim swallows the pointer: the window below must not be used meanwhile.
void FullDiskAccessOverlay::mousePressEvent(QMouseEvent* event) { event->accept(); }
void FullDiskAccessOverlay::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void FullDiskAccessOverlay::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void FullDiskAccessOverlay::wheelEvent(QWheelEvent* event) { event->accept(); }

}  // namespace corvalent
