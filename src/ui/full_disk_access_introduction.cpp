#include "ui/full_disk_access_introduction.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/corvalent_style.h"

namespace corvalent {

namespace {

const QString includeKey = QStringLiteral("includePrivacyProtectedLocations");
const QString seenKey = QStringLiteral("hasSeenFullDiskAccessIntroduction");

// Sizes below are the design's, in pixels at body 13; the interface font is
// 10 pt, so every text size scales by the same ratio.
QFont textFont(double designSize, QFont::Weight weight = QFont::Normal)
{
    return CorvalentStyle::font(designSize * 10.0 / 13.0, weight);
}

constexpr double bodySize = 13;
constexpr double calloutSize = 12;
constexpr double captionSize = 10;

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

QColor tealAt(double alpha)
{
    return withAlpha(CorvalentStyle::teal(), alpha);
}

void tint(QLabel* label, const QColor& colour)
{
    auto palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QLabel* makeLabel(const QString& text, const QFont& font, bool wrap, QWidget* parent = nullptr)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setWordWrap(wrap);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString verificationFailure(FullDiskAccessStatus status)
{
    if (status == FullDiskAccessStatus::denied)
        return QStringLiteral("Your folders\u2019 permissions still refuse reading. Check their owner and permissions, "
                              "then verify again.");
    return QStringLiteral("Corvalent could not verify access. Check that your home folder exists, then try again.");
}

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

// ---- small pieces of the card ------------------------------------------------

// A symbol in a fixed box, tinted when painted.
class SymbolView : public QWidget {
public:
    SymbolView(QString symbol, std::function<QColor(const QPalette&)> colour, int points, QSize box,
               QWidget* parent = nullptr)
        : QWidget(parent), symbol_(std::move(symbol)), colour_(std::move(colour)), points_(points)
    {
        setFixedSize(box);
    }

    void setSymbol(const QString& symbol, std::function<QColor(const QPalette&)> colour)
    {
        symbol_ = symbol;
        colour_ = std::move(colour);
        update();
    }
    const QString& symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const auto image = Symbols::pixmap(symbol_, colour_(palette()), points_, devicePixelRatioF());
        const QPointF at((width() - points_) / 2.0, (height() - points_) / 2.0);
        painter.drawPixmap(at, image);
    }

private:
    QString symbol_;
    std::function<QColor(const QPalette&)> colour_;
    int points_;
};

namespace {

// A rounded surface with a hairline outline; both colours follow the palette.
class RoundedBox : public QWidget {
public:
    RoundedBox(double radius, std::function<QColor(const QPalette&)> fill, std::function<QColor(const QPalette&)> outline,
               QWidget* parent = nullptr)
        : QWidget(parent), radius_(radius), fill_(std::move(fill)), outline_(std::move(outline))
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const auto area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(outline_(palette()), 1));
        painter.setBrush(fill_(palette()));
        painter.drawRoundedRect(area, radius_, radius_);
    }

private:
    double radius_;
    std::function<QColor(const QPalette&)> fill_;
    std::function<QColor(const QPalette&)> outline_;
};

class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent = nullptr) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), CorvalentStyle::border(palette()));
    }
};

// "RECOMMENDED" on a faint teal capsule.
class Badge : public QLabel {
public:
    Badge(const QString& text, QWidget* parent = nullptr) : QLabel(text, parent)
    {
        setFont(textFont(9, QFont::Bold));
        setContentsMargins(6, 1, 6, 1);
        tint(this, CorvalentStyle::teal());
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(tealAt(0.12));
            const double radius = height() / 2.0;
            painter.drawRoundedRect(QRectF(rect()), radius, radius);
        }
        QLabel::paintEvent(event);
    }
};

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

// The old region painted over the new one, fading out: a cross-fade without
// nesting opacity effects under the card's shadow.
class FadeCover : public QWidget {
public:
    FadeCover(QPixmap image, QWidget* parent) : QWidget(parent), image_(std::move(image))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpacity(double opacity)
    {
        opacity_ = std::clamp(opacity, 0.0, 1.0);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, image_);
    }

private:
    QPixmap image_;
    double opacity_ = 1.0;
};

}  // namespace

// The card's buttons: plain (secondary text), bordered, or prominent teal.
class CardButton : public QPushButton {
public:
    enum class Kind { plain, bordered, prominent };

    CardButton(Kind kind, const QString& text, QWidget* parent = nullptr) : QPushButton(text, parent), kind_(kind)
    {
        setFont(textFont(bodySize, kind == Kind::prominent ? QFont::DemiBold : QFont::Normal));
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        // Return is the card's to give to the prominent button; never to a focused plain one.
        setAutoDefault(false);
    }

    void setSymbol(const QString& symbol)
    {
        if (symbol_ == symbol) return;
        symbol_ = symbol;
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        int width = metrics.horizontalAdvance(text()) + 2 * padding;
        if (!symbol_.isEmpty()) width += symbolSize + gap;
        return {width, 30};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    // The focus ring shows only for keyboard focus, not after a click.
    void focusInEvent(QFocusEvent* event) override
    {
        keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QPushButton::focusInEvent(event);
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) painter.setOpacity(0.45);
        const auto pal = palette();
        const auto area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool hovered = underMouse() && isEnabled();
        QColor text;
        switch (kind_) {
        case Kind::prominent: {
            auto fill = CorvalentStyle::teal();
            if (isDown())
                fill = fill.darker(115);
            else if (hovered)
                fill = fill.lighter(106);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(area, 7, 7);
            text = Qt::white;
            break;
        }
        case Kind::bordered:
            painter.setPen(QPen(CorvalentStyle::border(pal), 1));
            painter.setBrush(CorvalentStyle::primary(pal, isDown() ? 0.1 : hovered ? 0.07 : 0.045));
            painter.drawRoundedRect(area, 7, 7);
            text = CorvalentStyle::primary(pal);
            break;
        case Kind::plain:
            if (isDown() || hovered) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(CorvalentStyle::primary(pal, isDown() ? 0.07 : 0.04));
                painter.drawRoundedRect(area, 7, 7);
            }
            text = CorvalentStyle::secondary(pal);
            break;
        }
        if (hasFocus() && keyboardFocus_) {
            painter.setPen(QPen(tealAt(0.55), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
        }

        const QFontMetrics metrics(font());
        const int textWidth = metrics.horizontalAdvance(this->text());
        const int contentWidth = textWidth + (symbol_.isEmpty() ? 0 : symbolSize + gap);
        double x = (width() - contentWidth) / 2.0;
        if (!symbol_.isEmpty()) {
            const auto image = Symbols::pixmap(symbol_, text, symbolSize, devicePixelRatioF());
            painter.drawPixmap(QPointF(x, (height() - symbolSize) / 2.0), image);
            x += symbolSize + gap;
        }
        painter.setPen(text);
        painter.setFont(font());
        painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, this->text());
    }

private:
    static constexpr int padding = 14;
    static constexpr int symbolSize = 13;
    static constexpr int gap = 6;
    Kind kind_;
    QString symbol_;
    bool keyboardFocus_ = false;
};

// The settings application's switch for this program, as a picture: display only.
class AccessSwitch : public QWidget {
public:
    explicit AccessSwitch(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedSize(38, 22);
        setFocusPolicy(Qt::NoFocus);
        setAccessibleName(QStringLiteral("Full Disk Access switch"));
        setOn(false);
    }
    void setOn(bool on)
    {
        on_ = on;
        setAccessibleDescription(on ? QStringLiteral("On") : QStringLiteral("Off"));
        update();
    }
    bool isOn() const { return on_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(on_ ? CorvalentStyle::teal() : CorvalentStyle::primary(palette(), 0.25));
        painter.drawRoundedRect(QRectF(rect()), 11, 11);
        const double knob = 9;
        const QPointF centre(on_ ? width() - 11.0 : 11.0, 11.0);
        painter.setBrush(QColor(0, 0, 0, 30));
        painter.drawEllipse(centre + QPointF(0, 0.5), knob + 0.5, knob + 0.5);
        painter.setBrush(Qt::white);
        painter.drawEllipse(centre, knob, knob);
    }

private:
    bool on_ = false;
};

// The small busy indicator: eight spokes, the brightest going round.
class BusyIndicator : public QWidget {
public:
    explicit BusyIndicator(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedSize(22, 22);
        setAccessibleName(QStringLiteral("Checking Full Disk Access"));
        turn_ = new QVariantAnimation(this);
        turn_->setStartValue(0);
        turn_->setEndValue(8);
        turn_->setDuration(800);
        turn_->setLoopCount(-1);
        connect(turn_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            const int step = value.toInt() % 8;
            if (step == step_) return;
            step_ = step;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { turn_->start(); }
    void hideEvent(QHideEvent*) override { turn_->stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        for (int spoke = 0; spoke < 8; ++spoke) {
            const int age = (step_ - spoke + 8) % 8;
            painter.setPen(QPen(CorvalentStyle::primary(palette(), 0.75 - age * 0.08), 2, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -4.5), QPointF(0, -8.5));
            painter.rotate(45);
        }
    }

private:
    QVariantAnimation* turn_;
    int step_ = 0;
};

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

    column->addWidget(new Divider(body));

    const auto noteRow = [body](const QString& symbol, std::function<QColor(const QPalette&)> colour, QLabel* label) {
        auto* row = new QWidget(body);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(7);
        line->addWidget(new SymbolView(symbol, std::move(colour), 12, QSize(14, 14)), 0, Qt::AlignTop);
        line->addWidget(label, 1);
        return row;
    };
    auto* privacy = makeLabel(
        QStringLiteral("Scans stay on your computer. Corvalent only reads file sizes and never opens file contents."),
        textFont(captionSize), true);
    secondaryLabels_ << privacy;
    column->addWidget(noteRow("checkmark.shield.fill", CorvalentStyle::secondary, privacy));

    const auto orange = [](const QPalette&) { return CorvalentStyle::orange(); };
    relaunchErrorText_ = makeLabel({}, textFont(captionSize), true);
    verificationErrorText_ = makeLabel({}, textFont(captionSize), true);
    warningLabels_ << relaunchErrorText_ << verificationErrorText_;
    relaunchErrorRow_ = noteRow("exclamationmark.triangle.fill", orange, relaunchErrorText_);
    verificationErrorRow_ = noteRow("lock.slash.fill", orange, verificationErrorText_);
    column->addWidget(relaunchErrorRow_);
    column->addWidget(verificationErrorRow_);

    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(10);
    limited_ = new CardButton(CardButton::Kind::plain, QStringLiteral("Use limited scanning"), body);
    openSettings_ = new CardButton(CardButton::Kind::bordered, QStringLiteral("Open Home Folder"), body);
    primary_ = new CardButton(CardButton::Kind::prominent, {}, body);
    primary_->setDefault(true);
    actions->addWidget(limited_);
    actions->addStretch(1);
    actions->addWidget(openSettings_);
    actions->addWidget(primary_);
    column->addLayout(actions);
    layout->addWidget(body);

    connect(limited_, &QPushButton::clicked, this, [this] { chooseLimitedScanning(); });
    connect(openSettings_, &QPushButton::clicked, this, [this] { openSettingsAgain(); });
    connect(primary_, &QPushButton::clicked, this, [this] { pressPrimary(); });
}

QWidget* FullDiskAccessIntroduction::buildHeader()
{
    auto* header = new QWidget(this);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(30, 34, 30, 24);
    column->setSpacing(13);
    column->addWidget(new AccessIcon(header), 0, Qt::AlignHCenter);
    title_ = makeLabel({}, textFont(24, QFont::Bold), false, header);
    title_->setAlignment(Qt::AlignHCenter);
    column->addWidget(title_, 0, Qt::AlignHCenter);
    subtitle_ = makeLabel({}, textFont(calloutSize), true, header);
    subtitle_->setAlignment(Qt::AlignHCenter);
    subtitle_->setFixedWidth(460);
    secondaryLabels_ << subtitle_;
    column->addWidget(subtitle_, 0, Qt::AlignHCenter);
    return header;
}

QWidget* FullDiskAccessIntroduction::buildChoices()
{
    auto* region = new QWidget;
    auto* column = new QVBoxLayout(region);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    const auto choice = [this, region](const QString& symbol, std::function<QColor(const QPalette&)> symbolColour,
                                       const QString& title, bool recommended, const QString& detail,
                                       std::function<QColor(const QPalette&)> fill,
                                       std::function<QColor(const QPalette&)> outline) {
        auto* box = new RoundedBox(11, std::move(fill), std::move(outline), region);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(14, 14, 14, 14);
        line->setSpacing(10);
        line->addWidget(new SymbolView(symbol, std::move(symbolColour), 16, QSize(24, 24)), 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(4);
        auto* heading = new QHBoxLayout;
        heading->setSpacing(7);
        heading->addWidget(makeLabel(title, textFont(calloutSize, QFont::DemiBold), false));
        if (recommended) heading->addWidget(new Badge(QStringLiteral("RECOMMENDED")), 0, Qt::AlignVCenter);
        heading->addStretch(1);
        texts->addLayout(heading);
        auto* description = makeLabel(detail, textFont(captionSize), true);
        secondaryLabels_ << description;
        texts->addWidget(description);
        texts->addStretch(1);
        line->addLayout(texts, 1);
        return box;
    };

    column->addWidget(choice(
                       "checkmark.circle.fill", [](const QPalette&) { return CorvalentStyle::teal(); },
                       QStringLiteral("Complete storage map"), true,
                       QStringLiteral("Includes Desktop, Downloads, Mail, Messages, Photos, cloud storage, and app "
                                      "data."),
                       [](const QPalette&) { return tealAt(0.055); }, [](const QPalette&) { return tealAt(0.18); }));
    column->addWidget(choice(
                       "hand.raised.fill", CorvalentStyle::secondary, QStringLiteral("Limited scan"), false,
                       QStringLiteral("Protected folders are skipped, so totals can be lower than the space the system "
                                      "reports."),
                       [](const QPalette& palette) { return CorvalentStyle::primary(palette, 0.025); },
                       CorvalentStyle::softBorder));
    return region;
}

QWidget* FullDiskAccessIntroduction::buildSetupSteps()
{
    auto* box = new RoundedBox(
        12, [](const QPalette& palette) { return CorvalentStyle::primary(palette, 0.025); },
        [](const QPalette&) { return tealAt(0.18); });
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* program = new QHBoxLayout;
    program->setContentsMargins(16, 16, 16, 16);
    program->setSpacing(14);
    program->addWidget(new SymbolView("externaldrive.fill", [](const QPalette&) { return CorvalentStyle::teal(); }, 42,
                                      QSize(42, 42)));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    programName_ = makeLabel(QStringLiteral("Corvalent"), textFont(bodySize, QFont::DemiBold), false);
    status_ = makeLabel({}, textFont(captionSize), false);
    names->addWidget(programName_);
    names->addWidget(status_);
    program->addLayout(names, 1);
    spinner_ = new BusyIndicator;
    switch_ = new AccessSwitch;
    program->addWidget(spinner_, 0, Qt::AlignVCenter);
    program->addWidget(switch_, 0, Qt::AlignVCenter);
    column->addLayout(program);

    column->addWidget(new Divider);

    auto* hint = new QHBoxLayout;
    hint->setContentsMargins(14, 14, 14, 14);
    hint->setSpacing(10);
    hintSymbol_ = new SymbolView("plus.circle", CorvalentStyle::secondary, 14, QSize(18, 18));
    hint->addWidget(hintSymbol_, 0, Qt::AlignTop);
    detail_ = makeLabel({}, textFont(captionSize), true);
    secondaryLabels_ << detail_;
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
    spinner_->setVisible(waiting);
    switch_->setVisible(!waiting);
    switch_->setOn(confirmed);
    if (confirmed)
        hintSymbol_->setSymbol("checkmark.circle.fill", [](const QPalette&) { return CorvalentStyle::teal(); });
    else
        hintSymbol_->setSymbol("plus.circle", CorvalentStyle::secondary);

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
    retint();
}

void FullDiskAccessIntroduction::retint()
{
    const auto pal = palette();
    for (auto* label : std::as_const(secondaryLabels_)) tint(label, CorvalentStyle::secondary(pal));
    for (auto* label : std::as_const(warningLabels_)) tint(label, CorvalentStyle::orange());
    tint(status_, accessConfirmed(flow_) ? CorvalentStyle::teal() : CorvalentStyle::secondary(pal));
}

void FullDiskAccessIntroduction::swapRegions()
{
    auto* from = showingSetup_ ? setupSteps_ : choices_;
    auto* to = showingSetup_ ? choices_ : setupSteps_;
    showingSetup_ = !showingSetup_;
    delete fadeCover_.data();

    FadeCover* cover = nullptr;
    if (!AppMotion::reduceMotion() && from->isVisible() && !from->size().isEmpty()) {
        const auto ratio = devicePixelRatioF();
        QPixmap image(from->size() * ratio);
        image.setDevicePixelRatio(ratio);
        image.fill(CorvalentStyle::windowBackground(palette()));
        from->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        cover = new FadeCover(image, middle_);
        cover->setGeometry(QRect(QPoint(0, 0), from->size()));
        fadeCover_ = cover;
    }
    from->hide();
    to->show();
    if (cover == nullptr) return;
    cover->show();
    cover->raise();
    AppMotion::animate(cover, AppMotion::standard(), [cover](double t) {
        cover->setOpacity(1.0 - t);
        // The spring passes 1 before it settles; the cover is clear from then on.
        if (t >= 1.0) cover->deleteLater();
    });
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

void FullDiskAccessIntroduction::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) retint();
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
