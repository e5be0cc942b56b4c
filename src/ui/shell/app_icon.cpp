#include "ui/shell/app_icon.h"

#include <QPixmap>
#include <QSvgRenderer>

#include "ui/shell/icon_image.h"

namespace corvalent {

QIcon appIcon()
{
    QSvgRenderer drawing(QStringLiteral(":/icons/corvalent.svg"));
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(iconImage(drawing, side)));
    return icon;
}

}  // namespace corvalent
