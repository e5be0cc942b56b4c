#include "ui/shell/icon_image.h"

#include <QPainter>
#include <QSvgRenderer>

namespace corvalent {

QImage iconImage(QSvgRenderer& drawing, int side)
{
    if (!drawing.isValid() || side <= 0) return {};
    const auto whole = drawing.viewBoxF();
    if (side < 48 && drawing.elementExists(QStringLiteral("tile")))
        drawing.setViewBox(drawing.boundsOnElement(QStringLiteral("tile")));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter, QRectF(0, 0, side, side));
    painter.end();
    drawing.setViewBox(whole);
    return image;
}

}  // namespace corvalent
