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

QColor readableOnAll(const QColor& ink, const std::vector<QColor>& backgrounds, double minimum)
{
    // A shade that reaches one background may miss another it passed
    // before: go round until every one is reached.
    auto shade = ink;
    for (int round = 0; round < 4; ++round) {
        for (const auto& background : backgrounds) shade = readable(shade, background, minimum);
        if (std::all_of(backgrounds.begin(), backgrounds.end(),
                        [&](const QColor& background) { return ratio(shade, background) >= minimum; }))
            break;
    }
    return shade;
}

QColor over(const QColor& background, const QColor& ink, double opacity)
{
    const auto mix = [opacity](float under, float above) {
        return static_cast<float>(std::clamp(under + (above - under) * opacity, 0.0, 1.0));
    };
    const auto b = background.toRgb();
    const auto i = ink.toRgb();
    return QColor::fromRgbF(mix(b.redF(), i.redF()), mix(b.greenF(), i.greenF()), mix(b.blueF(), i.blueF()));
}

double opacityReaching(const QColor& ink, const std::vector<QColor>& backgrounds, double minimum, double least)
{
    const auto opaque = QColor(ink.rgb());
    double opacity = std::clamp(least, 0.0, 1.0);
    for (const auto& background : backgrounds)
        while (opacity < 1.0 && ratio(over(background, opaque, opacity), background) < minimum)
            opacity = std::min(1.0, opacity + 0.01);
    return opacity;
}

}  // namespace Contrast

}  // namespace corvalent
