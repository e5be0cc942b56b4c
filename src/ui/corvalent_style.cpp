#include "ui/corvalent_style.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QStandardPaths>
#include <QVariantAnimation>

#include <cmath>

#include "ui/app_appearance.h"

namespace corvalent {

namespace CorvalentStyle {

QColor teal() { return QColor::fromRgbF(0.04f, 0.66f, 0.62f); }
QColor cyan() { return QColor::fromRgbF(0.2f, 0.68f, 0.86f); }
QColor indigo() { return QColor::fromRgbF(0.39f, 0.45f, 0.84f); }
QColor orange() { return QColor(255, 149, 0); }
QColor red() { return QColor(255, 59, 48); }

QColor primary(const QPalette& palette, double opacity)
{
    auto colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

QColor secondary(const QPalette& palette)
{
    return primary(palette, 0.6);
}

QColor tertiary(const QPalette& palette)
{
    return primary(palette, 0.35);
}

QColor border(const QPalette& palette)
{
    return primary(palette, 0.08);
}

QColor softBorder(const QPalette& palette)
{
    return primary(palette, 0.055);
}

QColor panel(const QPalette& palette)
{
    return palette.color(QPalette::Base);
}

QColor windowBackground(const QPalette& palette)
{
    return palette.color(QPalette::Window);
}

void paintHeroGradient(QPainter& painter, const QRectF& area)
{
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    auto start = teal();
    start.setAlphaF(0.16f);
    auto middle = cyan();
    middle.setAlphaF(0.09f);
    gradient.setColorAt(0.0, start);
    gradient.setColorAt(0.5, middle);
    gradient.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.fillRect(area, gradient);
}

void paintPanel(QPainter& painter, const QRectF& area, double radius, const QPalette& palette, double opacity)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    auto fill = panel(palette);
    fill.setAlphaF(static_cast<float>(opacity));
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    painter.fillPath(shape, fill);
    // The hairline lies inside the panel's bounds.
    const auto inner = area.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(softBorder(palette), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner, std::max(0.0, radius - 0.5), std::max(0.0, radius - 0.5));
    painter.restore();
}

QFont font(double points, QFont::Weight weight)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setPointSizeF(points);
    result.setWeight(weight);
    return result;
}

QFont monospacedDigits(QFont font)
{
    // DejaVu Sans draws every digit at one width already.
    return font;
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

namespace AppMotion {
namespace {

// A critically damped curve close to a spring with the given damping.
QEasingCurve spring()
{
    QEasingCurve curve(QEasingCurve::OutBack);
    curve.setOvershoot(0.6);
    return curve;
}

// The answers at hand without a child tool: the environment, then GTK's file.
std::optional<bool> localReduceMotion()
{
    const auto setting = qEnvironmentVariable("CORVALENT_REDUCE_MOTION");
    if (setting == "1") return true;
    if (setting == "0") return false;
    const auto folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const auto gtk = QSettings(folder + "/gtk-3.0/settings.ini", QSettings::IniFormat)
                         .value("Settings/gtk-enable-animations");
    if (gtk.isValid()) return !gtk.toBool();
    return std::nullopt;
}

}  // namespace

Animation quick() { return {160, QEasingCurve::OutCubic}; }
Animation standard() { return {340, spring()}; }
Animation selection() { return {270, spring()}; }
Animation hover() { return {140, QEasingCurve::OutCubic}; }
Animation value() { return {220, QEasingCurve::OutCubic}; }

bool reduceMotion()
{
    static const auto local = localReduceMotion();
    if (local) return *local;
    const auto enabled = desktopAnimationsEnabled();
    return enabled.has_value() && !*enabled;
}

void animate(QObject* owner, const Animation& animation, std::function<void(double)> step)
{
    if (reduceMotion()) {
        step(1.0);
        return;
    }
    auto* running = new QVariantAnimation(owner);
    running->setStartValue(0.0);
    running->setEndValue(1.0);
    running->setDuration(animation.milliseconds);
    running->setEasingCurve(animation.curve);
    QObject::connect(running, &QVariantAnimation::valueChanged, owner,
                     [step](const QVariant& t) { step(t.toDouble()); });
    running->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace AppMotion

PanelSurface::PanelSurface(double radius, QWidget* parent) : QFrame(parent), radius_(radius)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void PanelSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CorvalentStyle::paintPanel(painter, rect(), radius_, palette());
}

PressableRow::PressableRow(QWidget* parent, bool hoverLift) : QAbstractButton(parent), hoverLift_(hoverLift)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

void PressableRow::paintEvent(QPaintEvent*)
{
    if (!hoverLift_ || !hovering_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 9, 9);
    painter.fillPath(shape, CorvalentStyle::primary(palette(), 0.035));
}

void PressableRow::enterEvent(QEnterEvent* event)
{
    hovering_ = true;
    // Lifted one point while hovered, unless motion is reduced.
    if (hoverLift_ && !AppMotion::reduceMotion()) {
        const auto margins = contentsMargins();
        setContentsMargins(margins.left(), margins.top() - 1, margins.right(), margins.bottom() + 1);
    }
    update();
    QAbstractButton::enterEvent(event);
}

void PressableRow::leaveEvent(QEvent* event)
{
    if (hovering_ && hoverLift_ && !AppMotion::reduceMotion()) {
        const auto margins = contentsMargins();
        setContentsMargins(margins.left(), margins.top() + 1, margins.right(), margins.bottom() - 1);
    }
    hovering_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PressableRow::setPressedLook(bool pressed)
{
    if (!pressed) {
        setGraphicsEffect(nullptr);
        return;
    }
    auto* dim = new QGraphicsOpacityEffect(this);
    dim->setOpacity(0.82);
    setGraphicsEffect(dim);
}

void PressableRow::mousePressEvent(QMouseEvent* event)
{
    setPressedLook(true);
    QAbstractButton::mousePressEvent(event);
}

void PressableRow::mouseReleaseEvent(QMouseEvent* event)
{
    setPressedLook(false);
    QAbstractButton::mouseReleaseEvent(event);
}

namespace Symbols {
namespace {

// Symbol names the views use, and the desktop icons that show them.
const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {"gauge.with.dots.needle.50percent", "power-profile-balanced-symbolic"},
        {"speedometer", "power-profile-performance-symbolic"},
        {"internaldrive", "drive-harddisk-symbolic"},
        {"chevron.right", "go-next-symbolic"},
        {"folder.fill", "folder-symbolic"},
        {"doc.fill", "text-x-generic-symbolic"},
        {"clock", "preferences-system-time-symbolic"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"},
        {"pause.circle.fill", "media-playback-pause-symbolic"},
        {"exclamationmark.triangle.fill", "dialog-warning-symbolic"},
        {"arrow.triangle.2.circlepath", "emblem-synchronizing-symbolic"},
        {"scope", "system-search-symbolic"},
        {"terminal", "utilities-terminal-symbolic"},
        {"hammer", "applications-engineering-symbolic"},
        {"ladybug", "applications-science-symbolic"},
        {"puzzlepiece.extension", "application-x-addon-symbolic"},
        {"cursorarrow.motionlines", "input-mouse-symbolic"},
        {"iphone", "phone-symbolic"},
        {"iphone.gen3", "phone-symbolic"},
        {"app", "application-x-executable-symbolic"},
        {"gearshape", "emblem-system-symbolic"},
        {"lock.shield", "channel-secure-symbolic"},
        {"externaldrive.fill", "drive-harddisk-symbolic"},
        {"hand.raised.fill", "preferences-system-privacy-symbolic"},
        {"checkmark.shield.fill", "security-high-symbolic"},
        {"checkmark.shield", "security-high-symbolic"},
        {"lock.slash.fill", "changes-prevent-symbolic"},
        {"plus.circle", "list-add-symbolic"},
        {"checkmark", "object-select-symbolic"},
        {"sun.max", "weather-clear-symbolic"},
        {"moon", "weather-clear-night-symbolic"},
        {"macwindow", "window-new-symbolic"},
        {"arrow.clockwise", "view-refresh-symbolic"},
        {"lock.open.fill", "changes-allow-symbolic"},
        {"lock.shield.fill", "changes-prevent-symbolic"},
    };
    return names;
}

// Shapes Adwaita has nothing close to, drawn on a 16-unit grid.
QPainterPath drawnSymbol(const QString& symbol)
{
    QPainterPath path;
    if (symbol == "waveform.path.ecg") {
        path.moveTo(1, 9);
        path.lineTo(4.5, 9);
        path.lineTo(6, 5);
        path.lineTo(8, 13);
        path.lineTo(10, 3);
        path.lineTo(11.5, 9);
        path.lineTo(15, 9);
    } else if (symbol == "chevron.left.forwardslash.chevron.right") {
        path.moveTo(5, 4);
        path.lineTo(1.5, 8);
        path.lineTo(5, 12);
        path.moveTo(11, 4);
        path.lineTo(14.5, 8);
        path.lineTo(11, 12);
        path.moveTo(9.5, 2.5);
        path.lineTo(6.5, 13.5);
    } else if (symbol == "info.circle") {
        path.addEllipse(QPointF(8, 8), 6.5, 6.5);
        path.moveTo(8, 7.2);
        path.lineTo(8, 11.5);
        path.addEllipse(QPointF(8, 4.9), 0.35, 0.35);
    } else if (symbol == "memorychip") {
        path.addRoundedRect(3.5, 3.5, 9, 9, 1.5, 1.5);
        for (const double at : {5.5, 8.0, 10.5}) {
            path.moveTo(at, 1);
            path.lineTo(at, 3.5);
            path.moveTo(at, 12.5);
            path.lineTo(at, 15);
        }
    } else if (symbol == "circle.lefthalf.filled") {
        // A ring whose left half is filled with close strokes.
        path.addEllipse(QPointF(8, 8), 6, 6);
        for (double x = 3.0; x <= 8.0; x += 1.0) {
            const double half = std::sqrt(std::max(0.0, 5.4 * 5.4 - (x - 8) * (x - 8)));
            path.moveTo(x, 8 - half);
            path.lineTo(x, 8 + half);
        }
    }
    return path;
}

}  // namespace

QPixmap pixmap(const QString& symbol, const QColor& colour, int points, qreal devicePixelRatio)
{
    const int side = static_cast<int>(std::ceil(points * devicePixelRatio));
    QPixmap image(side, side);
    image.fill(Qt::transparent);
    const auto drawn = drawnSymbol(symbol);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!drawn.isEmpty()) {
        painter.scale(side / 16.0, side / 16.0);
        painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(drawn);
    } else {
        const auto icon = QIcon::fromTheme(themeNames().value(symbol, "image-missing-symbolic"));
        painter.drawPixmap(0, 0, icon.pixmap(side, side));
        // Symbolic icons are drawn in one colour: recolour them.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
    }
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

}  // namespace Symbols
}  // namespace corvalent
