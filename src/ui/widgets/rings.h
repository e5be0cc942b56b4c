#pragma once

// Circular indicators: a progress ring and the small capacity gauge that
// carries its percentage in the middle.

#include <QWidget>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

// An arc over a full-circle track, starting at the top and running
// clockwise for the fraction. Changes of the fraction animate with
// `AppMotion::value` (not under reduced motion).
class Ring : public QWidget {
public:
    Ring(int diameter, double lineWidth, QWidget* parent = nullptr);

    double fraction() const { return fraction_; }
    virtual void setFraction(double fraction);
    // Lands on the fraction at once: a placeholder arc that must not move.
    void showFractionAtOnce(double fraction);
    void setTint(Tone tint);
    void setTrack(Tone track);
    // A track wider than the arc; both run along the same circle. By default
    // the track is as wide as the arc.
    void setTrackWidth(double width);
    void setLineWidth(double width);

protected:
    void paintEvent(QPaintEvent* event) override;
    // The circle the line runs along, inside the widget's bounds.
    QRectF lineCircle() const;

private:
    double lineWidth_;
    double trackWidth_;
    double fraction_ = 0;
    double shown_ = 0;
    int generation_ = 0;
    Tone tint_;
    Tone track_;
};

// A ring with the used percentage written in its middle, as a disk's
// capacity. Its accessible name is "Used", its value the percentage.
class Gauge : public Ring {
public:
    explicit Gauge(int diameter = 48, QWidget* parent = nullptr);
    // The fraction as whole percent, rounded half away from zero.
    QString percentText() const;
    void setFraction(double fraction) override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace corvalent
