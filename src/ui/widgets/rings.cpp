#include "ui/widgets/rings.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/widgets/app_motion.h"

namespace corvalent {

Ring::Ring(int diameter, double lineWidth, QWidget* parent)
    : QWidget(parent),
      lineWidth_(lineWidth),
      trackWidth_(lineWidth),
      tint_(Tones::fixed(CorvalentStyle::teal())),
      track_(Tones::primary(0.08))
{
    setFixedSize(diameter, diameter);
}

void Ring::setFraction(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == fraction_) return;
    fraction_ = fraction;
    const double from = shown_;
    const int generation = ++generation_;
    AppMotion::animate(this, AppMotion::value(), [this, from, fraction, generation](double t) {
        if (generation != generation_) return;
        shown_ = from + (fraction - from) * t;
        update();
    });
}

void Ring::showFractionAtOnce(double fraction)
{
    fraction_ = shown_ = std::clamp(fraction, 0.0, 1.0);
    ++generation_;
    update();
}

void Ring::setTint(Tone tint)
{
    tint_ = std::move(tint);
    update();
}

void Ring::setTrack(Tone track)
{
    track_ = std::move(track);
    update();
}

void Ring::setTrackWidth(double width)
{
    trackWidth_ = width;
    update();
}

void Ring::setLineWidth(double width)
{
    lineWidth_ = width;
    update();
}

QRectF Ring::lineCircle() const
{
    const double inset = std::max(lineWidth_, trackWidth_) / 2;
    return QRectF(rect()).adjusted(inset, inset, -inset, -inset);
}

void Ring::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto circle = lineCircle();
    painter.setPen(QPen(track_(palette()), trackWidth_, Qt::SolidLine, Qt::FlatCap));
    painter.drawEllipse(circle);
    if (shown_ <= 0) return;
    painter.setPen(QPen(tint_(palette()), lineWidth_, Qt::SolidLine, Qt::RoundCap));
    // Qt counts sixteenths of a degree, anticlockwise from three o'clock.
    painter.drawArc(circle, 90 * 16, -static_cast<int>(std::lround(shown_ * 360 * 16)));
}

Gauge::Gauge(int diameter, QWidget* parent) : Ring(diameter, std::max(3.0, diameter / 10.0), parent)
{
    setAccessibleName(QStringLiteral("Used"));
    setAccessibleDescription(percentText());
}

void Gauge::setFraction(double fraction)
{
    Ring::setFraction(fraction);
    setAccessibleDescription(percentText());
}

QString Gauge::percentText() const
{
    return QString::number(static_cast<long long>(std::round(fraction() * 100))) + "%";
}

void Gauge::paintEvent(QPaintEvent* event)
{
    Ring::paintEvent(event);
    QPainter painter(this);
    painter.setFont(CorvalentStyle::font(TextStyle::caption2));
    painter.setPen(CorvalentStyle::primary(palette()));
    painter.drawText(rect(), Qt::AlignCenter, percentText());
}

}  // namespace corvalent
