#include "ui/widgets/indicators.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

constexpr int spokes = 8;

// A value from 0 to `end`, over and over, while its widget is shown.
QVariantAnimation* loop(QWidget* owner, int milliseconds, QVariant end)
{
    auto* animation = new QVariantAnimation(owner);
    animation->setStartValue(end.typeId() == QMetaType::Int ? QVariant(0) : QVariant(0.0));
    animation->setEndValue(end);
    animation->setDuration(milliseconds);
    animation->setLoopCount(-1);
    return animation;
}

}  // namespace

Spinner::Spinner(int size, QWidget* parent) : QWidget(parent), turn_(loop(this, 800, spokes))
{
    setFixedSize(size, size);
    setAccessibleName(QStringLiteral("Loading"));
    connect(turn_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const int step = value.toInt() % spokes;
        if (step == step_) return;
        step_ = step;
        update();
    });
}

void Spinner::showEvent(QShowEvent*) { turn_->start(); }
void Spinner::hideEvent(QHideEvent*) { turn_->stop(); }

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = std::min(width(), height()) * 0.386;
    const double inner = outer * 0.53;
    for (int spoke = 0; spoke < spokes; ++spoke) {
        const int age = (step_ - spoke + spokes) % spokes;
        painter.setPen(QPen(CorvalentStyle::primary(palette(), 0.75 - age * 0.08), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.rotate(360.0 / spokes);
    }
}

StateDot::StateDot(QWidget* parent) : QWidget(parent)
{
    setFixedSize(6, 6);
    setObjectName("stateDot");
}

void StateDot::setColour(const QColor& colour)
{
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void StateDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    const double radius = std::min(width(), height()) / 2.0;
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
}

Bar::Bar(QWidget* parent) : QWidget(parent), tint_(CorvalentStyle::teal())
{
    setFixedHeight(6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Bar::setFraction(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == fraction_) return;
    fraction_ = fraction;
    update();
}

void Bar::setTint(const QColor& tint)
{
    if (tint == tint_) return;
    tint_ = tint;
    update();
}

void Bar::setIndeterminate(bool indeterminate)
{
    if (indeterminate == this->indeterminate()) return;
    if (!indeterminate) {
        delete sweep_;
        sweep_ = nullptr;
    } else {
        sweep_ = loop(this, 1'300, 1.0);
        connect(sweep_, &QVariantAnimation::valueChanged, this, [this] { update(); });
        if (isVisible()) sweep_->start();
    }
    update();
}

void Bar::showEvent(QShowEvent*)
{
    if (sweep_ != nullptr) sweep_->start();
}

void Bar::hideEvent(QHideEvent*)
{
    if (sweep_ != nullptr) sweep_->stop();
}

void Bar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(rect());
    const double radius = track.height() / 2;
    painter.setBrush(CorvalentStyle::primary(palette(), 0.08));
    painter.drawRoundedRect(track, radius, radius);
    painter.setBrush(tint_);
    if (sweep_ != nullptr) {
        // A third of the track, entering at the left and leaving at the right.
        const double piece = track.width() / 3;
        const double left = -piece + sweep_->currentValue().toDouble() * (track.width() + piece);
        painter.setClipRect(track);
        painter.drawRoundedRect(QRectF(track.left() + left, track.top(), piece, track.height()), radius, radius);
        return;
    }
    if (fraction_ <= 0) return;
    // Never narrower than its own height, so the rounded end stays round.
    const double width = std::max(track.height(), track.width() * fraction_);
    painter.drawRoundedRect(QRectF(track.left(), track.top(), width, track.height()), radius, radius);
}

}  // namespace corvalent
