#pragma once

// The one look every view draws with: colours, the hero gradient, the named
// animations, and the treatments of panels, pressable rows and the control
// shelf. Colours that follow light and dark are read from the palette at
// paint time.

#include <QAbstractButton>
#include <QColor>
#include <QEasingCurve>
#include <QFrame>
#include <QIcon>
#include <QPalette>
#include <QVariantAnimation>

#include <array>
#include <functional>

class QPainter;
class QRect;
class QRectF;

namespace corvalent {

namespace CorvalentStyle {

QColor teal();
QColor cyan();
QColor indigo();
// The system's orange and red, for warning and critical states.
QColor orange();
QColor red();

// The primary text colour of `palette` at the given opacity.
QColor primary(const QPalette& palette, double opacity = 1.0);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor border(const QPalette& palette);      // primary at 0.08
QColor softBorder(const QPalette& palette);  // primary at 0.055
QColor panel(const QPalette& palette);       // the control background
QColor windowBackground(const QPalette& palette);

// Teal 0.16 → cyan 0.09 → clear, from the top-left to the bottom-right of `area`.
void paintHeroGradient(QPainter& painter, const QRectF& area);
// A panel: `panel` at `opacity` with an inside hairline of `softBorder`.
void paintPanel(QPainter& painter, const QRectF& area, double radius, const QPalette& palette, double opacity = 0.74);

// A font of the interface family: `points` in size, `weight` as given.
QFont font(double points, QFont::Weight weight = QFont::Normal);
// Digits of equal width, so that changing numbers do not jump.
QFont monospacedDigits(QFont font);

// The seven colours of the disk map and its rows.
const std::array<QColor, 7>& diskPalette();

}  // namespace CorvalentStyle

namespace AppMotion {

struct Animation {
    int milliseconds;
    QEasingCurve curve;
};

Animation quick();      // ease-out, 0.16 s
Animation standard();   // spring-like, 0.34 s
Animation selection();  // spring-like, 0.27 s
Animation hover();      // ease-out, 0.14 s
Animation value();      // ease-out, 0.22 s

// The desktop asks for reduced motion: CORVALENT_REDUCE_MOTION=1, else GTK's
// settings file (both read once), else GNOME's animation setting once it
// has arrived.
bool reduceMotion();

// Runs `step(t)` for t from 0 to 1 over the animation, or once with 1 under
// reduced motion. The animation is owned by `owner`.
void animate(QObject* owner, const Animation& animation, std::function<void(double)> step);

}  // namespace AppMotion

// A rounded panel surface (the standard panel of every page).
class PanelSurface : public QFrame {
public:
    explicit PanelSurface(double radius = 14, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_;
};

// A pressable area: dims while pressed, lifts and tints while hovered. Its
// content comes from child widgets laid out inside it.
class PressableRow : public QAbstractButton {
public:
    explicit PressableRow(QWidget* parent = nullptr, bool hoverLift = true);
    bool hovering() const { return hovering_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setPressedLook(bool pressed);
    bool hoverLift_;
    bool hovering_ = false;
};

namespace Symbols {

// The icon for a symbol name, tinted in `colour`, `points` high.
QPixmap pixmap(const QString& symbol, const QColor& colour, int points, qreal devicePixelRatio = 1.0);

}  // namespace Symbols
}  // namespace corvalent
