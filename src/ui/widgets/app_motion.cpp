#include "ui/widgets/app_motion.h"

#include <QPainter>
#include <QPointer>
#include <QStandardPaths>
#include <QVariantAnimation>
#include <QWidget>

#include <algorithm>

#include "models/preferences.h"

namespace corvalent::AppMotion {
namespace {

// A curve close to a spring with the given damping: it passes its end a little.
QEasingCurve spring()
{
    QEasingCurve curve(QEasingCurve::OutBack);
    curve.setOvershoot(0.6);
    return curve;
}

// CORVALENT_REDUCE_MOTION, which wins over everything the desktop says.
std::optional<bool> environmentReduceMotion()
{
    const auto setting = qEnvironmentVariable("CORVALENT_REDUCE_MOTION");
    if (setting == "1") return true;
    if (setting == "0") return false;
    return std::nullopt;
}

// GTK's settings file, for desktops that tell nothing else.
std::optional<bool> gtkFileReduceMotion()
{
    const auto folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const auto gtk = iniFileValue(folder + "/gtk-3.0/settings.ini", QStringLiteral("Settings/gtk-enable-animations"));
    if (gtk.isValid()) return !gtk.toBool();
    return std::nullopt;
}

// Written and read on the GUI thread only.
std::optional<bool>& desktopAnswer()
{
    static std::optional<bool> answer;
    return answer;
}

class FadeCover : public QWidget {
public:
    FadeCover(QPixmap image, QWidget* parent) : QWidget(parent), image_(std::move(image))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpacity(double opacity)
    {
        opacity_ = std::clamp(opacity, 0.0, 1.0);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, image_);
    }

private:
    QPixmap image_;
    double opacity_ = 1.0;
};

}  // namespace

Animation quick() { return {160, QEasingCurve::OutCubic}; }
Animation standard() { return {340, spring()}; }
Animation selection() { return {270, spring()}; }
Animation hover() { return {140, QEasingCurve::OutCubic}; }
Animation value() { return {220, QEasingCurve::OutCubic}; }

bool reduceMotion()
{
    static const auto environment = environmentReduceMotion();
    if (environment) return *environment;
    // The desktop's live answer before the file, which is read only once.
    if (const auto enabled = desktopAnswer()) return !*enabled;
    static const auto gtkFile = gtkFileReduceMotion();
    return gtkFile.value_or(false);
}

void setDesktopAnimationsEnabled(std::optional<bool> enabled)
{
    desktopAnswer() = enabled;
}

std::optional<bool> desktopAnimationsEnabled()
{
    return desktopAnswer();
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

QWidget* fadeOutCover(QWidget* outgoing, const QColor& background)
{
    auto* parent = outgoing->parentWidget();
    if (reduceMotion() || parent == nullptr || !outgoing->isVisible() || outgoing->size().isEmpty()) return nullptr;
    const auto ratio = outgoing->devicePixelRatioF();
    QPixmap image(outgoing->size() * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    outgoing->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    auto* cover = new FadeCover(image, parent);
    cover->setGeometry(outgoing->geometry());
    cover->show();
    cover->raise();
    animate(cover, standard(), [cover](double t) {
        cover->setOpacity(1.0 - t);
        // The spring passes 1 before it settles; the cover is clear from then on.
        if (t >= 1.0) cover->deleteLater();
    });
    return cover;
}

void RiseInEffect::setProgress(double t)
{
    progress_ = t;
    updateBoundingRect();
    update();
}

QRectF RiseInEffect::boundingRectFor(const QRectF& rect) const
{
    return rect.united(rect.translated(0, rise));
}

void RiseInEffect::draw(QPainter* painter)
{
    QPoint offset;
    const auto picture = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (picture.isNull()) return;
    painter->save();
    painter->setOpacity(painter->opacity() * std::clamp(progress_, 0.0, 1.0));
    // The spring passes its end a little: the page rises no higher than its place.
    painter->drawPixmap(QPointF(offset) + QPointF(0, rise * std::max(0.0, 1.0 - progress_)), picture);
    painter->restore();
}

void riseIn(QWidget* incoming)
{
    if (reduceMotion()) return;
    auto* effect = new RiseInEffect(incoming);
    incoming->setGraphicsEffect(effect);
    // The page owns the animation: the effect goes while a step runs.
    QPointer<RiseInEffect> guard(effect);
    animate(incoming, standard(), [incoming, guard](double t) {
        if (!guard) return;
        guard->setProgress(t);
        // The spring passes 1 before it settles; the page is in place from then on.
        if (t >= 1.0) incoming->setGraphicsEffect(nullptr);
    });
}

}  // namespace corvalent::AppMotion
