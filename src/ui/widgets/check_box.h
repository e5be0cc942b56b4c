#pragma once

// A checkbox in the program's look: a rounded square, teal with a white
// check when on, a hairline square when off, and its text after it in the
// type scale. It stays a QCheckBox, so keyboard and signals are Qt's own;
// a reader's action clicks it, as a pointer does.

#include <QCheckBox>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

namespace corvalent {

class CheckBox : public QCheckBox {
public:
    explicit CheckBox(const QString& text = {}, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    QRectF box() const;

    FocusRing focusRing_;
};

}  // namespace corvalent
