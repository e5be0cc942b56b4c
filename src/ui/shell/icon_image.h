#pragma once

// Renders the program's icon drawing at one size. The program and the build's
// icon tool both use it, so the window, the tray and the installed PNGs are
// the same pixels.

#include <QImage>

class QSvgRenderer;

namespace corvalent {

// `side` pixels square. Below 48 pixels the tile fills the square (the
// element "tile" becomes the view); from 48 pixels up the drawing keeps its
// margin, as desktop icons do. A null image when the drawing is invalid.
QImage iconImage(QSvgRenderer& drawing, int side);

}  // namespace corvalent
