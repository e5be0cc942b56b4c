#include "ui/shell/hero_backdrop.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

// A 4 × 4 ordered dither: thresholds spread evenly over one eight-bit step.
constexpr std::array<std::array<int, 4>, 4> bayer{{{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}}};

struct Premultiplied {
    double r, g, b, a;
};

Premultiplied premultiplied(const QColor& colour, double alpha)
{
    return {colour.redF() * alpha, colour.greenF() * alpha, colour.blueF() * alpha, alpha};
}

Premultiplied mix(const Premultiplied& from, const Premultiplied& to, double s)
{
    return {from.r + (to.r - from.r) * s, from.g + (to.g - from.g) * s, from.b + (to.b - from.b) * s,
            from.a + (to.a - from.a) * s};
}

Premultiplied scaled(const Premultiplied& colour, double factor)
{
    return {colour.r * factor, colour.g * factor, colour.b * factor, colour.a * factor};
}

// The diagonal alone would leave the wash still tinted where it ends on the
// left: its lowest part eases out to nothing, so no edge shows at its foot.
double bottomFade(double depth)
{
    constexpr double from = 0.6;
    if (depth <= from) return 1.0;
    const double s = std::min(1.0, (depth - from) / (1.0 - from));
    return 1.0 - s * s * (3.0 - 2.0 * s);
}

}  // namespace

QImage HeroBackdrop::render(int width, const QColor& window, qreal devicePixelRatio)
{
    const int columns = std::max(1, static_cast<int>(std::lround(width * devicePixelRatio)));
    const int rows = std::max(1, static_cast<int>(std::lround(height * devicePixelRatio)));
    QImage image(columns, rows, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatio);

    // Teal 0.16 → cyan 0.09 → clear along the diagonal, blended in
    // premultiplied form so the fade to clear does not darken.
    const auto start = premultiplied(CorvalentStyle::teal(), 0.16);
    const auto middle = premultiplied(CorvalentStyle::cyan(), 0.09);
    const Premultiplied clear{0, 0, 0, 0};
    const double w = width;
    const double h = height;
    const double length = w * w + h * h;
    const double back[3] = {window.redF(), window.greenF(), window.blueF()};

    for (int row = 0; row < rows; ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        const double y = (row + 0.5) / devicePixelRatio;
        const double fade = bottomFade(y / h);
        for (int column = 0; column < columns; ++column) {
            const double x = (column + 0.5) / devicePixelRatio;
            const double t = std::clamp((x * w + y * h) / length, 0.0, 1.0);
            const auto wash = scaled(t < 0.5 ? mix(start, middle, t * 2) : mix(middle, clear, t * 2 - 1), fade);
            const double dither = (bayer[row & 3][column & 3] + 0.5) / 16.0 - 0.5;
            const auto channel = [&](double washed, double behind) {
                const double value = (behind * (1 - wash.a) + washed) * 255.0 + dither;
                return std::clamp(static_cast<int>(std::lround(value)), 0, 255);
            };
            line[column] = qRgb(channel(wash.r, back[0]), channel(wash.g, back[1]), channel(wash.b, back[2]));
        }
    }
    return image;
}

void HeroBackdrop::paint(QPainter& painter, QSize size, const QColor& window, qreal devicePixelRatio)
{
    painter.fillRect(QRect(QPoint(0, 0), size), window);
    const QSize wanted(static_cast<int>(std::lround(size.width() * devicePixelRatio)),
                       static_cast<int>(std::lround(height * devicePixelRatio)));
    if (image_.size() != wanted || window_ != window || image_.devicePixelRatio() != devicePixelRatio) {
        image_ = render(size.width(), window, devicePixelRatio);
        window_ = window;
    }
    painter.drawImage(QPoint(0, 0), image_);
}

}  // namespace corvalent
