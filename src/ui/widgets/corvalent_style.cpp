#include "ui/widgets/corvalent_style.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

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

QColor secondary(const QPalette& palette) { return primary(palette, 0.6); }
QColor tertiary(const QPalette& palette) { return primary(palette, 0.35); }
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

Tone readable(QColor ink, double minimum)
{
    return [ink, minimum](const QPalette& palette) {
        return Contrast::readable(ink, CorvalentStyle::windowBackground(palette), minimum);
    };
}

}  // namespace Tones

namespace {

// Whether the person last used the keyboard or the pointer, watched for the
// whole application from the first focus ring on; and whether the control
// holding the focus has taken a key since it got it.
class InputWatcher : public QObject {
public:
    static InputWatcher& instance()
    {
        static auto* watcher = [] {
            auto* created = new InputWatcher;
            QCoreApplication::instance()->installEventFilter(created);
            return created;
        }();
        return *watcher;
    }
    bool lastInputWasKey() const { return key_; }
    bool keyedSinceFocus() const { return keyed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            key_ = true;
            keyed(watched, static_cast<QKeyEvent*>(event)->key());
            break;
        case QEvent::ShortcutOverride: key_ = true; break;
        case QEvent::FocusIn: keyed_ = false; break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin: key_ = false; break;
        default: break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    InputWatcher() : QObject(QCoreApplication::instance()) {}

    // The first key other than a modifier that the focused control takes:
    // from now on it shows its ring, wherever that is drawn (by the control,
    // on a list's rows, by the control's parent around it).
    void keyed(QObject* watched, int key)
    {
        auto* focus = QApplication::focusWidget();
        if (keyed_ || focus == nullptr || watched != focus) return;
        if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
            key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_Super_L || key == Qt::Key_Super_R)
            return;
        keyed_ = true;
        focus->update();
        if (auto* area = qobject_cast<QAbstractScrollArea*>(focus)) area->viewport()->update();
        if (auto* parent = focus->parentWidget()) parent->update(focus->geometry().adjusted(-4, -4, 4, 4));
    }

    bool key_ = false;
    bool keyed_ = false;
};

}  // namespace

FocusRing::FocusRing()
{
    InputWatcher::instance();
}

void FocusRing::focusIn(const QFocusEvent& event)
{
    // A window that becomes active, a sheet that shows, or the program
    // moving focus on: a ring only when a key led there. Mouse focus never
    // shows one.
    held_ = true;
    switch (event.reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::ActiveWindowFocusReason:
    case Qt::OtherFocusReason: keyboard_ = InputWatcher::instance().lastInputWasKey(); break;
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        keyboard_ = keptForMenu_ && InputWatcher::instance().lastInputWasKey();
        break;
    default: keyboard_ = false; break;
    }
}

void FocusRing::focusOut()
{
    // A menu opening now takes the focus until it closes: one that a key
    // opened hands the ring back. A menu bar's menu opens before the bar
    // takes the focus as well: the second loss keeps what the first kept.
    if (std::exchange(held_, false)) keptForMenu_ = keyLed() && InputWatcher::instance().lastInputWasKey();
    keyboard_ = false;
}

bool FocusRing::keyLed() const
{
    // Focus that came without a ring shows it once the control takes a key,
    // until the pointer is used.
    const auto& input = InputWatcher::instance();
    return keyboard_ || (held_ && input.keyedSinceFocus() && input.lastInputWasKey());
}

bool FocusRing::shown(const QWidget& widget) const
{
    return keyLed() && widget.hasFocus();
}

void FocusRing::paint(QPainter& painter, const QWidget& widget, const QRectF& area, double radius) const
{
    if (!shown(widget)) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour(widget.palette()), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), std::max(0.0, radius - 1), std::max(0.0, radius - 1));
    painter.restore();
}

std::vector<QColor> FocusRing::surfaces(const QPalette& palette)
{
    constexpr double washAlpha = 0.16;  // the hero gradient's start
    constexpr double faintTextAlpha = 0.08;
    constexpr double faintAccentAlpha = 0.16;
    using CorvalentStyle::blend;
    const auto teal = CorvalentStyle::teal();
    const auto text = CorvalentStyle::primary(palette);
    const auto window = palette.color(QPalette::Window);
    std::vector<QColor> found;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button}) {
        // A see-through background (a field's, on a well of its own) shows the window.
        const auto colour = palette.color(role);
        const auto plain = blend(window, QColor(colour.rgb()), colour.alphaF());
        for (const auto& under : {plain, blend(plain, teal, washAlpha)}) {
            found.push_back(under);
            found.push_back(blend(under, text, faintTextAlpha));
            found.push_back(blend(under, teal, faintAccentAlpha));
        }
    }
    return found;
}

QColor FocusRing::colour(const QPalette& palette)
{
    auto ring = CorvalentStyle::teal();
    // The surfaces all lie on one side of the accent (light or dark), so
    // each shade that reaches one keeps the ones before.
    for (const auto& surface : surfaces(palette)) ring = Contrast::readable(ring, surface, 3.0);
    return ring;
}

FocusRing::Bands FocusRing::bandsOnFill(const QPalette& palette, const QColor& fill)
{
    // The text colour stands out from the window in both appearances; inside,
    // whichever of text and window stands out more from the fill.
    const auto text = CorvalentStyle::primary(palette);
    const auto window = CorvalentStyle::windowBackground(palette);
    return {text, Contrast::ratio(text, fill) >= Contrast::ratio(window, fill) ? text : window};
}

void FocusRing::paintOnFill(QPainter& painter, const QWidget& widget, const QRectF& area, double radius,
                            const QColor& fill) const
{
    if (!shown(widget)) return;
    constexpr double band = 1.5;
    const auto bands = bandsOnFill(widget.palette(), fill);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const auto stroke = [&](const QColor& colour, double inset) {
        painter.setPen(QPen(colour, band));
        const double corner = std::max(0.0, radius - inset);
        painter.drawRoundedRect(area.adjusted(inset, inset, -inset, -inset), corner, corner);
    };
    stroke(bands.inner, band * 1.5);
    stroke(bands.outer, band / 2);
    painter.restore();
}

}  // namespace corvalent
