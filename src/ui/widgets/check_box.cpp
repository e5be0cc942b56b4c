#include "ui/widgets/check_box.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/widgets/checkable_accessible.h"

namespace corvalent {
namespace {

constexpr double side = 15;
constexpr double radius = 4;
constexpr int textGap = 7;
constexpr int ringRoom = 3;

}  // namespace

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(parent)
{
    installCheckableAccessible<CheckBox, QAccessible::CheckBox>();
    // Qt asks for the reader's interface when the text is set: set here, the
    // box is already one of ours.
    setText(text);
    setFont(CorvalentStyle::font(TextStyle::caption));
    setCursor(Qt::PointingHandCursor);
}

QRectF CheckBox::box() const
{
    return {static_cast<double>(ringRoom), (height() - side) / 2.0, side, side};
}

QSize CheckBox::sizeHint() const
{
    const int textWidth = text().isEmpty() ? 0 : textGap + fontMetrics().horizontalAdvance(text());
    return {static_cast<int>(side) + 2 * ringRoom + textWidth,
            std::max(static_cast<int>(side) + 2 * ringRoom, fontMetrics().height())};
}

void CheckBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);
    const auto square = box();
    QPainterPath shape;
    shape.addRoundedRect(square, radius, radius);
    if (isChecked()) {
        painter.fillPath(shape, CorvalentStyle::teal());
        QPainterPath check;
        check.moveTo(square.left() + 3.8, square.center().y() + 0.2);
        check.lineTo(square.left() + 6.4, square.bottom() - 4.0);
        check.lineTo(square.right() - 3.6, square.top() + 4.2);
        painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(check);
    } else {
        painter.fillPath(shape, CorvalentStyle::panel(palette()));
        painter.setPen(QPen(CorvalentStyle::primary(palette(), 0.28), 1));
        painter.drawRoundedRect(square.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    }
    focusRing_.paint(painter, *this, square.adjusted(-ringRoom, -ringRoom, ringRoom, ringRoom), radius + ringRoom);
    if (text().isEmpty()) return;
    painter.setPen(CorvalentStyle::primary(palette()));
    const QRectF label(square.right() + textGap, 0, width() - square.right() - textGap, height());
    painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, text());
}

void CheckBox::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QCheckBox::focusInEvent(event);
    update();
}

void CheckBox::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QCheckBox::focusOutEvent(event);
    update();
}

bool CheckBox::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

}  // namespace corvalent
