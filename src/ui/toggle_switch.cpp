#include "ui/toggle_switch.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/corvalent_style.h"

namespace corvalent {
namespace {

constexpr int trackWidth = 38;
constexpr int trackHeight = 22;
constexpr double knobInset = 2;

}  // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this, &ToggleSwitch::slide);
}

QSize ToggleSwitch::sizeHint() const
{
    return {trackWidth, trackHeight};
}

QColor ToggleSwitch::trackColour(bool on, const QPalette& palette)
{
    if (on) return CorvalentStyle::teal();
    // The same grey reads on both light and dark windows.
    return CorvalentStyle::primary(palette, palette.color(QPalette::Window).lightness() < 128 ? 0.28 : 0.16);
}

void ToggleSwitch::slide(bool on)
{
    const double from = knob_;
    const double to = on ? 1.0 : 0.0;
    const int generation = ++slides_;
    // A state set before the switch is on screen is simply shown.
    if (!isVisible()) {
        knob_ = to;
        update();
        return;
    }
    AppMotion::animate(this, AppMotion::quick(), [this, from, to, generation](double t) {
        if (generation != slides_) return;  // a newer toggle took over
        knob_ = from + (to - from) * t;
        update();
    });
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track((width() - trackWidth) / 2.0, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    const double radius = trackHeight / 2.0;
    if (!isEnabled()) painter.setOpacity(0.45);

    QPainterPath capsule;
    capsule.addRoundedRect(track, radius, radius);
    painter.fillPath(capsule, trackColour(isChecked(), palette()));

    if (keyboardFocus_ && hasFocus()) {
        auto ring = CorvalentStyle::teal();
        ring.setAlphaF(0.45f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }

    const double diameter = trackHeight - 2 * knobInset;
    const double travel = trackWidth - 2 * knobInset - diameter;
    const QRectF knob(track.left() + knobInset + travel * knob_, track.top() + knobInset, diameter, diameter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
}

void ToggleSwitch::focusInEvent(QFocusEvent* event)
{
    // The ring shows only when the keyboard brought focus here.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
                     event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
    update();
}

void ToggleSwitch::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    QAbstractButton::focusOutEvent(event);
    update();
}

bool ToggleSwitch::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

}  // namespace corvalent
