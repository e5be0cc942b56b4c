#pragma once

// A pressable area whose content comes from the widgets laid out inside it:
// tinted and lifted one pixel while hovered, dimmed while pressed, and
// reachable from the keyboard (Space presses it) with a focus ring.

#include <QAbstractButton>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

namespace corvalent {

class PressableRow : public QAbstractButton {
public:
    explicit PressableRow(QWidget* parent = nullptr);
    bool hovering() const { return hovering_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void lift(bool up);
    void showPressed(bool pressed);

    bool hovering_ = false;
    bool lifted_ = false;
    FocusRing focusRing_;
};

}  // namespace corvalent
