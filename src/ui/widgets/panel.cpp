#include "ui/widgets/panel.h"

#include <QPainter>

namespace corvalent {

PanelSurface::PanelSurface(double radius, QWidget* parent)
    : QWidget(parent), radius_(radius),
      fill_([](const QPalette& palette) { return CorvalentStyle::withAlpha(CorvalentStyle::panel(palette), 0.74); }),
      hairline_(CorvalentStyle::softBorder)
{
}

void PanelSurface::setColours(Tone fill, Tone hairline)
{
    fill_ = std::move(fill);
    hairline_ = std::move(hairline);
    update();
}

void PanelSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CorvalentStyle::paintPanel(painter, QRectF(rect()), radius_, fill_(palette()), hairline_(palette()));
}

Divider::Divider(Qt::Orientation orientation, int length, QWidget* parent) : QWidget(parent)
{
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedSize(1, length);
    }
}

void Divider::setTone(Tone tone)
{
    tone_ = std::move(tone);
    update();
}

void Divider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), tone_(palette()));
}

}  // namespace corvalent
