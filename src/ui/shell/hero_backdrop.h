#pragma once

// The main window's backdrop: the window colour with the hero gradient
// washed over its top, easing out towards its foot. The gradient's alpha is
// low, so eight-bit steps would show as diagonal bands; it is computed once
// per size and colour into an opaque image with a small ordered dither.

#include <QColor>
#include <QImage>
#include <QSize>

class QPainter;

namespace corvalent {

class HeroBackdrop {
public:
    static constexpr int height = 260;

    // Fills `size` with `window`, the gradient over its top `height` points.
    void paint(QPainter& painter, QSize size, const QColor& window, qreal devicePixelRatio);

    // The gradient over `window`, `width` by `height` points, dithered.
    static QImage render(int width, const QColor& window, qreal devicePixelRatio);

private:
    QImage image_;
    QColor window_;
};

}  // namespace corvalent
