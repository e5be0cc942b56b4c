// Build tool: renders the icon drawing into the hicolor PNG sizes.
//   corvalent_render_icons DRAWING FOLDER SIDE...
// writes FOLDER/<SIDE>x<SIDE>/apps/corvalent.png for every SIDE.
#include <QDir>
#include <QSvgRenderer>

#include <cstdio>

#include "ui/shell/icon_image.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: corvalent_render_icons DRAWING FOLDER SIDE...\n", stderr);
        return 2;
    }
    QSvgRenderer drawing(QString::fromLocal8Bit(argv[1]));
    if (!drawing.isValid()) {
        std::fprintf(stderr, "corvalent_render_icons: %s is not a drawing\n", argv[1]);
        return 1;
    }
    const QDir folder(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        bool number = false;
        const int side = QByteArray(argv[i]).toInt(&number);
        const auto sizeFolder = QStringLiteral("%1x%1/apps").arg(side);
        const auto file = folder.filePath(sizeFolder + QStringLiteral("/corvalent.png"));
        if (!number || side <= 0 || !folder.mkpath(sizeFolder) ||
            !corvalent::iconImage(drawing, side).save(file, "PNG")) {
            std::fprintf(stderr, "corvalent_render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
