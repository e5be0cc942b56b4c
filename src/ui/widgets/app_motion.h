#pragma once

// The named animations every view moves with, and whether the desktop asks
// for reduced motion. Under reduced motion nothing animates: each change
// lands at once.

#include <QEasingCurve>
#include <QGraphicsEffect>

#include <functional>
#include <optional>

class QColor;
class QObject;
class QWidget;

namespace corvalent::AppMotion {

struct Animation {
    int milliseconds;
    QEasingCurve curve;
};

Animation quick();      // ease-out, 0.16 s
Animation standard();   // spring-like, 0.34 s
Animation selection();  // spring-like, 0.27 s
Animation hover();      // ease-out, 0.14 s
Animation value();      // ease-out, 0.22 s

// The desktop asks for reduced motion: CORVALENT_REDUCE_MOTION=1 (read once),
// else the desktop's animation setting as last told, else GTK's settings file
// (read once).
bool reduceMotion();
// The desktop's animation setting, told by whoever reads it; unknown until then.
void setDesktopAnimationsEnabled(std::optional<bool> enabled);
std::optional<bool> desktopAnimationsEnabled();

// Runs `step(t)` for t from 0 to 1 over the animation, or once with 1 under
// reduced motion. The animation is owned by `owner`.
void animate(QObject* owner, const Animation& animation, std::function<void(double)> step);

// Lays a still picture of `outgoing` (on `background`) over it and fades the
// picture out with `standard`, so the caller can swap what lies below and
// the change reads as a cross-fade. Returns the cover, which deletes itself
// once clear; null under reduced motion or while `outgoing` is not shown.
QWidget* fadeOutCover(QWidget* outgoing, const QColor& background);

// A page coming in, drawn part way through its entrance: at progress t
// (0 to 1) it shows at opacity t, lowered by 5 px × (1 − t).
class RiseInEffect : public QGraphicsEffect {
public:
    static constexpr double rise = 5.0;
    explicit RiseInEffect(QObject* parent = nullptr) : QGraphicsEffect(parent) {}
    void setProgress(double t);
    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    double progress_ = 0.0;
};

// The entrance of a page that replaces another (call fadeOutCover on the old
// one first): `incoming` fades in with `standard` while it rises 5 px into
// place. Under reduced motion it is there at once.
void riseIn(QWidget* incoming);

}  // namespace corvalent::AppMotion
