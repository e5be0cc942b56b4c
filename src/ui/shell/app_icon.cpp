#include "ui/shell/app_icon.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

QPixmap tile(int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Small sizes fill their square; larger ones keep a margin, as desktop icons do.
    const double margin = side >= 48 ? side * 0.06 : 0.0;
    const QRectF area(margin, margin, side - 2 * margin, side - 2 * margin);
    const double radius = area.width() * 0.225;
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    QLinearGradient fill(area.topLeft(), area.bottomLeft());
    fill.setColorAt(0, CorvalentStyle::teal().lighter(112));
    fill.setColorAt(1, CorvalentStyle::teal().darker(108));
    painter.fillPath(shape, fill);
    const int symbol = static_cast<int>(std::lround(area.width() * 0.64));
    const auto gauge = Symbols::pixmap(QStringLiteral("gauge.with.dots.needle.50percent"), Qt::white, symbol);
    painter.drawPixmap(QPointF(area.center().x() - symbol / 2.0, area.center().y() - symbol / 2.0), gauge);
    return pixmap;
}

}  // namespace

QIcon appIcon()
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(tile(side));
    return icon;
}

}  // namespace corvalent
