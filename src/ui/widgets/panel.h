#pragma once

// The standard panel surface and the hairline between sections.

#include <QWidget>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

// A rounded surface: by default `panel` at 0.74 with a `softBorder`
// hairline inside its bounds. Content comes from the layout inside it.
class PanelSurface : public QWidget {
public:
    explicit PanelSurface(double radius = 14, QWidget* parent = nullptr);
    // Other colours for the same shape, read at paint time.
    void setColours(Tone fill, Tone hairline);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_;
    Tone fill_;
    Tone hairline_;
};

// A one-pixel `softBorder` line. Horizontal lines take the width they are
// given; vertical ones are `length` high.
class Divider : public QWidget {
public:
    explicit Divider(Qt::Orientation orientation = Qt::Horizontal, int length = 0, QWidget* parent = nullptr);
    // Another colour for the line, read at paint time.
    void setTone(Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_ = CorvalentStyle::softBorder;
};

}  // namespace corvalent
