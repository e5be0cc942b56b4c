#include "ui/widgets/corvalent_style.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "ui/widgets/contrast.h"

namespace corvalent {

namespace CorvalentStyle {
namespace {

struct Type {
    double points;
    QFont::Weight weight;
};

Type typeOf(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return {26, QFont::Normal};
    case TextStyle::title: return {22, QFont::Normal};
    case TextStyle::title2: return {17, QFont::Normal};
    case TextStyle::title3: return {15, QFont::Normal};
    case TextStyle::headline: return {13, QFont::DemiBold};
    case TextStyle::body: return {13, QFont::Normal};
    case TextStyle::callout: return {12, QFont::Normal};
    case TextStyle::subheadline: return {11, QFont::Normal};
    case TextStyle::footnote:
    case TextStyle::caption:
    case TextStyle::caption2: break;
    case TextStyle::pageTitle: return {28, QFont::Bold};
    case TextStyle::heroTitle: return {24, QFont::Bold};
    case TextStyle::sheetTitle: return {17, QFont::DemiBold};
    case TextStyle::heroFigure: return {25, QFont::DemiBold};
    case TextStyle::figure: return {20, QFont::DemiBold};
    case TextStyle::tileFigure: return {18, QFont::DemiBold};
    case TextStyle::summaryFigure: return {17, QFont::DemiBold};
    case TextStyle::rowTitle: return {14, QFont::DemiBold};
    case TextStyle::capitals: return {9, QFont::Bold};
    }
    return {10, QFont::Normal};
}

// The interface family at `designPoints` pixels.
QFont sized(double designPoints, QFont::Weight weight)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setPixelSize(std::max(1, static_cast<int>(std::lround(designPoints))));
    result.setWeight(weight);
    return result;
}

}  // namespace

QColor teal() { return QColor::fromRgbF(0.04f, 0.66f, 0.62f); }
QColor cyan() { return QColor::fromRgbF(0.2f, 0.68f, 0.86f); }
QColor indigo() { return QColor::fromRgbF(0.39f, 0.45f, 0.84f); }
QColor orange() { return QColor(255, 149, 0); }
QColor red() { return QColor(255, 59, 48); }

QColor blend(const QColor& from, const QColor& to, double t)
{
    const auto channel = [&](double a, double b) { return a + (b - a) * t; };
    const double alpha = channel(from.alphaF(), to.alphaF());
    if (alpha <= 0) return QColor(0, 0, 0, 0);
    const auto premultiplied = [&](float c0, float a0, float c1, float a1) {
        return std::clamp(channel(double(c0) * a0, double(c1) * a1) / alpha, 0.0, 1.0);
    };
    return QColor::fromRgbF(static_cast<float>(premultiplied(from.redF(), from.alphaF(), to.redF(), to.alphaF())),
                            static_cast<float>(premultiplied(from.greenF(), from.alphaF(), to.greenF(), to.alphaF())),
                            static_cast<float>(premultiplied(from.blueF(), from.alphaF(), to.blueF(), to.alphaF())),
                            static_cast<float>(alpha));
}

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

QColor primary(const QPalette& palette, double opacity)
{
    return withAlpha(palette.color(QPalette::WindowText), opacity);
}

std::vector<QColor> textSurfaces(const QPalette& palette)
{
    constexpr double washAlpha = 0.16;  // the hero gradient's start
    constexpr double faintTextAlpha = 0.08;
    constexpr double faintTintAlpha = 0.16;
    const auto text = QColor(primary(palette).rgb());
    const auto window = QColor(palette.color(QPalette::Window).rgb());
    std::vector<QColor> found;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button}) {
        // A see-through background shows the window.
        const auto colour = palette.color(role);
        const auto plain = Contrast::over(window, QColor(colour.rgb()), colour.alphaF());
        for (const auto& under : {plain, Contrast::over(plain, teal(), washAlpha)}) {
            found.push_back(under);
            found.push_back(Contrast::over(under, text, faintTextAlpha));
            found.push_back(Contrast::over(under, teal(), faintTintAlpha));
            found.push_back(Contrast::over(under, orange(), faintTintAlpha));
        }
    }
    return found;
}

namespace {

// What a palette's text surfaces are made of, as a key to what was worked out for them.
using PaletteKey = std::tuple<QRgb, QRgb, QRgb, QRgb, QRgb>;

PaletteKey keyOf(const QPalette& palette)
{
    return {palette.color(QPalette::WindowText).rgba(), palette.color(QPalette::Window).rgba(),
            palette.color(QPalette::Base).rgba(), palette.color(QPalette::AlternateBase).rgba(),
            palette.color(QPalette::Button).rgba()};
}

// Worked out once per palette and ink; painting asks for it on every frame.
// The GUI thread alone draws.
template <typename Value, typename Make>
Value remembered(const QPalette& palette, QRgb ink, double minimum, Make make)
{
    static std::map<std::tuple<PaletteKey, QRgb, double>, Value> known;
    const auto key = std::tuple(keyOf(palette), ink, minimum);
    if (const auto found = known.find(key); found != known.end()) return found->second;
    if (known.size() > 256) known.clear();
    return known.emplace(key, make()).first->second;
}

QColor readableTextStyle(const QPalette& palette, double minimum, double least)
{
    const auto opacity = remembered<double>(palette, primary(palette).rgba(), minimum, [&] {
        return Contrast::opacityReaching(primary(palette), textSurfaces(palette), minimum, least);
    });
    return primary(palette, opacity);
}

}  // namespace

QColor secondary(const QPalette& palette) { return readableTextStyle(palette, 5.5, 0.6); }
QColor tertiary(const QPalette& palette) { return readableTextStyle(palette, 4.5, 0.35); }

QColor textTint(const QColor& tint, const QPalette& palette, double minimum)
{
    return remembered<QColor>(palette, tint.rgba(), minimum,
                              [&] { return Contrast::readableOnAll(tint, textSurfaces(palette), minimum); });
}
QColor border(const QPalette& palette) { return primary(palette, 0.08); }
QColor softBorder(const QPalette& palette) { return primary(palette, 0.055); }
QColor panel(const QPalette& palette) { return palette.color(QPalette::Base); }
QColor windowBackground(const QPalette& palette) { return palette.color(QPalette::Window); }

void paintHeroGradient(QPainter& painter, const QRectF& area)
{
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0.0, withAlpha(teal(), 0.16));
    gradient.setColorAt(0.5, withAlpha(cyan(), 0.09));
    gradient.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.fillRect(area, gradient);
}

void paintPanel(QPainter& painter, const QRectF& area, double radius, const QColor& fill, const QColor& hairline)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    painter.fillPath(shape, fill);
    // The hairline lies inside the panel's bounds.
    const auto inner = area.adjusted(0.5, 0.5, -0.5, -0.5);
    const double innerRadius = std::max(0.0, radius - 0.5);
    painter.setPen(QPen(hairline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner, innerRadius, innerRadius);
    painter.restore();
}

void paintPanel(QPainter& painter, const QRectF& area, double radius, const QPalette& palette, double opacity)
{
    paintPanel(painter, area, radius, withAlpha(panel(palette), opacity), softBorder(palette));
}

QFont font(TextStyle style)
{
    const auto type = typeOf(style);
    return sized(type.points, type.weight);
}

QFont font(TextStyle style, QFont::Weight weight)
{
    return sized(typeOf(style).points, weight);
}

QFont monospaced(TextStyle style, QFont::Weight weight)
{
    auto result = font(style, weight);
    result.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    result.setStyleHint(QFont::Monospace);
    return result;
}

QFont capitalsFont(double tracking)
{
    auto result = font(TextStyle::capitals);
    result.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return result;
}

const std::array<QColor, 7>& diskPalette()
{
    static const std::array<QColor, 7> colours{
        QColor::fromRgbF(0.04f, 0.66f, 0.62f), QColor::fromRgbF(0.12f, 0.55f, 0.72f),
        QColor::fromRgbF(0.30f, 0.48f, 0.78f), QColor::fromRgbF(0.18f, 0.66f, 0.48f),
        QColor::fromRgbF(0.43f, 0.52f, 0.72f), QColor::fromRgbF(0.08f, 0.58f, 0.64f),
        QColor::fromRgbF(0.28f, 0.64f, 0.68f),
    };
    return colours;
}

}  // namespace CorvalentStyle

namespace Tones {

Tone primary(double opacity)
{
    return [opacity](const QPalette& palette) { return CorvalentStyle::primary(palette, opacity); };
}
Tone secondary() { return CorvalentStyle::secondary; }
Tone tertiary() { return CorvalentStyle::tertiary; }
Tone fixed(QColor colour)
{
    return [colour](const QPalette&) { return colour; };
}
Tone readable(QColor tint, double minimum)
{
    return [tint, minimum](const QPalette& palette) { return CorvalentStyle::textTint(tint, palette, minimum); };
}

}  // namespace Tones

}  // namespace corvalent
