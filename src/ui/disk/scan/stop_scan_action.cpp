#include "ui/disk/scan/stop_scan_action.h"

#include <QAbstractButton>
#include <QPainter>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <cmath>

#include "models/disk_model.h"
#include "ui/disk/disk_view_state.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr QSize controlSize(124, 34);
constexpr double controlRadius = 8;
constexpr int iconBox = 18;
constexpr int symbolPixels = 15;
constexpr int iconGap = 7;
constexpr int spinnerSize = 14;
// The bubble's bottom edge below the control's bottom edge: it slides the
// last three pixels down as it fades in.
constexpr double hintRestingOffset = 45;
constexpr double hintSlide = 3;


double unit(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

// The part of `widget` that can be seen: what its parents, its window and
// its screen leave of it, in its own coordinates.
QRect inSight(const QWidget& widget)
{
    QRect seen = widget.rect();
    for (const auto* above = widget.parentWidget(); above != nullptr; above = above->parentWidget())
        seen &= QRect(widget.mapFrom(above, QPoint(0, 0)), above->size());
    if (const auto* screen = widget.screen()) {
        const auto room = screen->availableGeometry();
        seen &= QRect(widget.mapFromGlobal(room.topLeft()), room.size());
    }
    return seen;
}

// The painted control: teal while highlighted, "Finishing…" over a small
// spinner while the scan winds down.
class StopScanButton : public QAbstractButton {
public:
    StopScanButton(DiskViewState& state, QWidget* parent) : QAbstractButton(parent), state_(state)
    {
        setObjectName("stopScanAction");
        setFixedSize(controlSize);
        setFont(CorvalentStyle::font(TextStyle::callout, QFont::Medium));
        setCursor(Qt::PointingHandCursor);
        // Keyboard only: a click ends the scan, there is nothing to keep focus for.
        setFocusPolicy(Qt::TabFocus);
        setAccessibleDescription(QStringLiteral("Keeps and displays everything found so far"));
        spinner_ = new Spinner(spinnerSize, this);
        QPalette tinted;
        tinted.setColor(QPalette::WindowText, CorvalentStyle::teal());
        spinner_->setPalette(tinted);
        spinner_->hide();
        showStopping(false);

        const auto repaint = [this] { update(); };
        connect(&state, &DiskViewState::stopActionHoveredChanged, this,
                [this, repaint] { hovered_.follow(this, state_.stopActionHovered(), AppMotion::hover(), repaint); });
        connect(&state, &DiskViewState::stopActionFocusedChanged, this,
                [this, repaint] { focused_.follow(this, state_.stopActionFocused(), AppMotion::hover(), repaint); });
        connect(this, &QAbstractButton::pressed, this,
                [this, repaint] { pressed_.follow(this, true, AppMotion::selection(), repaint); });
        connect(this, &QAbstractButton::released, this,
                [this, repaint] { pressed_.follow(this, false, AppMotion::selection(), repaint); });
    }

    void showStopping(bool stopping)
    {
        setText(stopping ? QStringLiteral("Finishing\u2026") : QStringLiteral("Stop scan"));
        setAccessibleName(stopping ? QStringLiteral("Building partial disk map")
                                   : QStringLiteral("Stop scan and view partial results"));
        setEnabled(!stopping);
        spinner_->setVisible(stopping);
        spinner_->move(contentLeft() + (iconBox - spinnerSize) / 2, (height() - spinnerSize) / 2);
        stopping_.follow(this, stopping, AppMotion::quick(), [this] { update(); });
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool motion = !AppMotion::reduceMotion();
        const double press = unit(pressed_.value());
        painter.setOpacity(1.0 - 0.18 * press);
        if (motion && press > 0) scaleAbout(painter, QRectF(rect()).center(), 1.0 - 0.025 * press);

        const auto pal = palette();
        const double highlight = unit(std::max(hovered_.value(), focused_.value()));
        const auto teal = CorvalentStyle::teal();
        CorvalentStyle::paintPanel(
            painter, QRectF(rect()), controlRadius,
            CorvalentStyle::blend(CorvalentStyle::primary(pal, 0.015), CorvalentStyle::withAlpha(teal, 0.055), highlight),
            CorvalentStyle::withAlpha(teal, 0.24 * highlight));
        focusRing_.paint(painter, *this, QRectF(rect()), controlRadius);
        const auto ink = CorvalentStyle::blend(CorvalentStyle::secondary(pal), teal, highlight);

        const int left = contentLeft();
        const QRectF icon(left, (height() - iconBox) / 2.0, iconBox, iconBox);
        painter.save();
        painter.setOpacity(painter.opacity() * (1.0 - unit(stopping_.value())));
        if (motion) scaleAbout(painter, icon.center(), 1.0 + 0.06 * hovered_.value());
        const auto image = Symbols::pixmap("stop.circle", ink, symbolPixels, devicePixelRatioF());
        painter.drawPixmap(icon.center() - QPointF(symbolPixels, symbolPixels) / 2.0, image);
        painter.restore();

        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRectF(left + iconBox + iconGap, 0, width(), height()), Qt::AlignLeft | Qt::AlignVCenter,
                         text());
    }

    void enterEvent(QEnterEvent* event) override
    {
        state_.setStopActionHovered(true);
        QAbstractButton::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override
    {
        state_.setStopActionHovered(false);
        QAbstractButton::leaveEvent(event);
    }
    // Focus counts when the keyboard gave it, as for every focus ring: not
    // when the window came to the front and handed it to the first control.
    void focusInEvent(QFocusEvent* event) override
    {
        focusRing_.focusIn(*event);
        state_.setStopActionFocused(focusRing_.shown(*this));
        QAbstractButton::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        focusRing_.focusOut();
        state_.setStopActionFocused(false);
        QAbstractButton::focusOutEvent(event);
    }

private:
    // The icon and the text are centred together.
    int contentLeft() const
    {
        const int content = iconBox + iconGap + QFontMetrics(font()).horizontalAdvance(text());
        return (width() - content) / 2;
    }
    static void scaleAbout(QPainter& painter, QPointF centre, double scale)
    {
        painter.translate(centre);
        painter.scale(scale, scale);
        painter.translate(-centre);
    }

    DiskViewState& state_;
    Spinner* spinner_;
    FocusRing focusRing_;
    Eased hovered_;
    Eased focused_;
    Eased pressed_;
    Eased stopping_;
};

// What stopping does, said while the control is highlighted. It never takes
// a click, and it is left out of the accessibility tree by carrying no name:
// the control's own description says the same.
class StopScanHint : public QWidget {
public:
    explicit StopScanHint(QWidget* parent) : QWidget(parent)
    {
        setObjectName("stopScanHint");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        resize(sizeHint());
    }

    double opacity() const { return opacity_; }
    void setOpacity(double opacity)
    {
        if (opacity == opacity_) return;
        opacity_ = opacity;
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics title(titleFont()), detail(detailFont());
        const int width = std::max(title.horizontalAdvance(titleText()), detail.horizontalAdvance(detailText()));
        return {width + 2 * horizontalPadding, title.height() + lineGap + detail.height() + 2 * verticalPadding};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        const auto pal = palette();
        CorvalentStyle::paintPanel(painter, QRectF(rect()), 8,
                                   CorvalentStyle::withAlpha(CorvalentStyle::panel(pal), 0.94),
                                   CorvalentStyle::border(pal));
        const QFontMetrics title(titleFont());
        QRectF line(horizontalPadding, verticalPadding, width() - 2 * horizontalPadding, title.height());
        painter.setFont(titleFont());
        painter.setPen(CorvalentStyle::primary(pal));
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, titleText());
        line.translate(0, title.height() + lineGap);
        line.setHeight(QFontMetrics(detailFont()).height());
        painter.setFont(detailFont());
        painter.setPen(CorvalentStyle::secondary(pal));
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, detailText());
    }

private:
    static constexpr int horizontalPadding = 10;
    static constexpr int verticalPadding = 8;
    static constexpr int lineGap = 2;
    static QString titleText() { return QStringLiteral("View partial results"); }
    static QString detailText() { return QStringLiteral("Keeps every file and size found so far"); }
    static QFont titleFont() { return CorvalentStyle::font(TextStyle::caption, QFont::DemiBold); }
    static QFont detailFont() { return CorvalentStyle::font(TextStyle::caption2); }

    double opacity_ = 0;
};

}  // namespace

void Eased::follow(QObject* owner, bool on, const AppMotion::Animation& animation, std::function<void()> changed)
{
    const double target = on ? 1.0 : 0.0;
    if (target == target_) return;
    target_ = target;
    const double from = value_;
    const int generation = ++generation_;
    AppMotion::animate(owner, animation, [this, from, target, generation, changed = std::move(changed)](double t) {
        if (generation != generation_) return;  // a newer change took over
        value_ = from + (target - from) * t;
        changed();
    });
}

StopScanAction::StopScanAction(DiskModel& model, DiskViewState& state, std::function<void()> stopScan, QWidget* panel)
    : QWidget(panel), model_(model), state_(state)
{
    setObjectName("stopScanPlace");
    setFixedSize(controlSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* button = new StopScanButton(state, panel);
    button_ = button;
    hint_ = new StopScanHint(panel);
    hint_->hide();
    connect(button_, &QAbstractButton::clicked, this, [stopScan = std::move(stopScan)] {
        if (stopScan) stopScan();
    });
    // Pressing Escape is a click: nothing while the control is disabled.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), panel);
    connect(escape, &QShortcut::activated, button_, &QAbstractButton::click);
    connect(&state, &DiskViewState::stopActionHoveredChanged, this, [this] { followHint(AppMotion::hover()); });
    connect(&state, &DiskViewState::stopActionFocusedChanged, this, [this] { followHint(AppMotion::hover()); });
    stopping_ = model.stopping();
    button->showStopping(stopping_);
    followHint(AppMotion::quick());
}

void StopScanAction::refresh()
{
    if (model_.stopping() == stopping_) return;
    stopping_ = model_.stopping();
    static_cast<StopScanButton*>(button_)->showStopping(stopping_);
    followHint(AppMotion::quick());
}

bool StopScanAction::hintShown() const
{
    return (state_.stopActionHovered() || state_.stopActionFocused()) && !stopping_;
}

void StopScanAction::followHint(const AppMotion::Animation& animation)
{
    if (hintShown()) {
        hint_->show();
        hint_->raise();
    }
    hintShownAmount_.follow(this, hintShown(), animation, [this] { place(); });
    place();
}

// The control lifts a pixel while its bubble shows, except under reduced
// motion; the bubble hangs below the control's unlifted place, or stands
// above it where the window or the screen ends too close below.
void StopScanAction::place()
{
    const QPoint origin = mapTo(parentWidget(), QPoint(0, 0));
    const bool lifted = hintShown() && !AppMotion::reduceMotion();
    button_->move(origin - QPoint(0, lifted ? 1 : 0));
    button_->raise();

    auto* hint = static_cast<StopScanHint*>(hint_);
    const double shown = unit(hintShownAmount_.value());
    hint->setOpacity(shown);
    if (shown <= 0 && !hintShown()) hint->hide();
    const auto size = hint->sizeHint();
    const double offset = hintRestingOffset + (AppMotion::reduceMotion() ? 0 : hintSlide * shown);
    const int reach = static_cast<int>(std::lround(offset));
    const auto seen = inSight(*parentWidget());
    const int below = origin.y() + height() + reach - size.height();
    const int above = origin.y() - reach;
    const bool fitsBelow = below + size.height() <= seen.bottom() + 1;
    const int top = fitsBelow || above < seen.top() ? below : above;
    const int left = keptInside(QRect(QPoint(origin.x() + (width() - size.width()) / 2, top), size), seen).left();
    hint->setGeometry(left, top, size.width(), size.height());
}

void StopScanAction::moveEvent(QMoveEvent*)
{
    place();
}
void StopScanAction::resizeEvent(QResizeEvent*)
{
    place();
}

}  // namespace corvalent
