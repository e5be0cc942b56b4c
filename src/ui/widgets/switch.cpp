#include "ui/widgets/switch.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/widgets/app_motion.h"
#include "ui/widgets/checkable_accessible.h"

namespace corvalent {
namespace {

constexpr int trackWidth = 38;
constexpr int trackHeight = 22;
constexpr double knobInset = 2;
// Room around the track for the focus ring and a pixel between them, so
// the ring stands out from the window on both sides, the track teal or grey.
constexpr int ringRoom = 3;

// A switch people turn is a check box whose action is a click; a
// display-only one is a picture of its state. Asked each time, so a switch
// made display-only after readers met it is read right.
class SwitchAccessible : public CheckableAccessible {
public:
    explicit SwitchAccessible(Switch* control) : CheckableAccessible(control, QAccessible::CheckBox) {}

    QAccessible::Role role() const override { return pictured() ? QAccessible::Graphic : CheckableAccessible::role(); }
    QAccessible::State state() const override
    {
        return pictured() ? QAccessibleWidget::state() : CheckableAccessible::state();
    }
    QStringList actionNames() const override { return pictured() ? QStringList() : CheckableAccessible::actionNames(); }
    void doAction(const QString& action) override
    {
        if (!pictured()) CheckableAccessible::doAction(action);
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface && pictured()) return nullptr;
        return CheckableAccessible::interface_cast(type);
    }

private:
    bool pictured() const { return static_cast<Switch*>(widget())->displayOnly(); }
};

QAccessibleInterface* switchAccessible(const QString&, QObject* object)
{
    if (auto* control = dynamic_cast<Switch*>(object)) return new SwitchAccessible(control);
    return nullptr;
}

}  // namespace

Switch::Switch(QWidget* parent) : QAbstractButton(parent)
{
    // Before anything tells readers of a change: Qt keeps the interface it makes then.
    static const bool readersKnowSwitches = [] {
        QAccessible::installFactory(switchAccessible);
        return true;
    }();
    Q_UNUSED(readersKnowSwitches);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleDescription(QStringLiteral("Off"));
    connect(this, &QAbstractButton::toggled, this, &Switch::slide);
}

QSize Switch::sizeHint() const
{
    return {trackWidth + 2 * ringRoom, trackHeight + 2 * ringRoom};
}

void Switch::setDisplayOnly(bool displayOnly)
{
    displayOnly_ = displayOnly;
    setFocusPolicy(displayOnly ? Qt::NoFocus : Qt::StrongFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents, displayOnly);
    if (displayOnly) unsetCursor();
    else setCursor(Qt::PointingHandCursor);
}

QColor Switch::trackColour(bool on, const QPalette& palette)
{
    if (on) return CorvalentStyle::teal();
    // The same grey reads on both light and dark windows.
    return CorvalentStyle::primary(palette, palette.color(QPalette::Window).lightness() < 128 ? 0.28 : 0.16);
}

void Switch::slide(bool on)
{
    setAccessibleDescription(on ? QStringLiteral("On") : QStringLiteral("Off"));
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

void Switch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track((width() - trackWidth) / 2.0, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    const double radius = trackHeight / 2.0;
    if (!isEnabled()) painter.setOpacity(0.45);

    QPainterPath capsule;
    capsule.addRoundedRect(track, radius, radius);
    painter.fillPath(capsule, trackColour(isChecked(), palette()));
    focusRing_.paint(painter, *this, track.adjusted(-ringRoom, -ringRoom, ringRoom, ringRoom), radius + ringRoom);

    const double diameter = trackHeight - 2 * knobInset;
    const double travel = trackWidth - 2 * knobInset - diameter;
    const QRectF knob(track.left() + knobInset + travel * knob_, track.top() + knobInset, diameter, diameter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
}

void Switch::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
    update();
}

void Switch::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
    update();
}

bool Switch::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

}  // namespace corvalent
