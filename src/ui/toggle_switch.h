#pragma once

// An on/off switch: a capsule, teal when on and grey when off, with a white
// knob that slides across. Checkable; Space toggles it when focused.

#include <QAbstractButton>

namespace corvalent {

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Where the knob is drawn: 0 at the left (off), 1 at the right (on).
    double knobPosition() const { return knob_; }

    static QColor trackColour(bool on, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    void slide(bool on);

    double knob_ = 0;
    int slides_ = 0;
    bool keyboardFocus_ = false;
};

}  // namespace corvalent
