#include "ui/widgets/contrast.h"

#include <algorithm>
#include <cmath>

namespace corvalent {

namespace Contrast {
namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

}  // namespace

double luminance(const QColor& colour)
{
    const auto rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double ratio(const QColor& first, const QColor& second)
{
    const double one = luminance(first);
    const double other = luminance(second);
    return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

QColor readable(const QColor& ink, const QColor& background, double minimum)
{
    if (ratio(ink, background) >= minimum) return ink;
    const auto hsl = ink.toHsl();
    const bool darken = luminance(background) > 0.18;
    // Lightness moves in small steps, so the shade stays as close to the accent as it can.
    for (int step = 1; step <= 100; ++step) {
        const double lightness = std::clamp(hsl.lightnessF() + (darken ? -0.01 : 0.01) * step, 0.0, 1.0);
        const auto shade = QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), static_cast<float>(lightness));
        if (ratio(shade, background) >= minimum) return shade;
    }
    return darken ? QColor(Qt::black) : QColor(Qt::white);
}

}  // namespace Contrast

}  // namespace corvalent
