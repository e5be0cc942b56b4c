#pragma once

// An on/off switch: a capsule, teal when on and grey when off, with a white
// knob that slides across. Space toggles it when focused; its accessible
// description says "On" or "Off". A display-only switch shows a state the
// person changes elsewhere: it takes neither focus nor the pointer, and
// readers meet it as a picture with no action.

#include <QAbstractButton>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

namespace corvalent {

class Switch : public QAbstractButton {
public:
    explicit Switch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Where the knob is drawn: 0 at the left (off), 1 at the right (on).
    double knobPosition() const { return knob_; }
    void setDisplayOnly(bool displayOnly);
    bool displayOnly() const { return displayOnly_; }

    static QColor trackColour(bool on, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    void slide(bool on);

    bool displayOnly_ = false;
    double knob_ = 0;
    int slides_ = 0;
    FocusRing focusRing_;
};

}  // namespace corvalent
