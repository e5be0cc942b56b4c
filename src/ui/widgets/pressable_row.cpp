#include "ui/widgets/pressable_row.h"

#include <QFocusEvent>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>

#include "ui/widgets/app_motion.h"

namespace corvalent {
namespace {

constexpr double radius = 9;

}  // namespace

PressableRow::PressableRow(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    // Children draw the content; the dim covers them too, so it is an effect
    // rather than the painter's opacity.
    connect(this, &QAbstractButton::pressed, this, [this] { showPressed(true); });
    connect(this, &QAbstractButton::released, this, [this] { showPressed(false); });
}

void PressableRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (hovering_) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), radius, radius);
        painter.fillPath(shape, CorvalentStyle::primary(palette(), 0.035));
    }
    focusRing_.paint(painter, *this, QRectF(rect()), radius);
}

void PressableRow::enterEvent(QEnterEvent* event)
{
    hovering_ = true;
    lift(!AppMotion::reduceMotion());
    update();
    QAbstractButton::enterEvent(event);
}

void PressableRow::leaveEvent(QEvent* event)
{
    hovering_ = false;
    lift(false);
    update();
    QAbstractButton::leaveEvent(event);
}

void PressableRow::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
}

void PressableRow::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
}

// The content moves up one pixel by shifting the margins it is laid out in.
void PressableRow::lift(bool up)
{
    if (up == lifted_) return;
    lifted_ = up;
    const int shift = up ? 1 : -1;
    const auto margins = contentsMargins();
    setContentsMargins(margins.left(), margins.top() - shift, margins.right(), margins.bottom() + shift);
}

void PressableRow::showPressed(bool pressed)
{
    if (!pressed) {
        setGraphicsEffect(nullptr);
        return;
    }
    auto* dim = new QGraphicsOpacityEffect(this);
    dim->setOpacity(0.82);
    setGraphicsEffect(dim);
}

}  // namespace corvalent
