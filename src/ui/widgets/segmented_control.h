#pragma once

// A row of exclusive segments on a shared track, each a title after an
// optional symbol; the chosen one is filled with the accent. Tab enters the
// row at the chosen segment, whichever had focus before; Space chooses the
// focused one, and the arrow keys choose the next or the previous. Readers hear each segment as a radio button whose action chooses
// it, with the accessible description "Selected" or "Not selected".

#include <QAbstractButton>
#include <QWidget>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

class QButtonGroup;

namespace corvalent {

class Segment : public QAbstractButton {
public:
    Segment(const QString& title, const QString& symbol, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString symbol_;
    FocusRing focusRing_;
};

class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QString& accessibleName, QWidget* parent = nullptr);

    Segment* addSegment(const QString& title, const QString& symbol, int id);
    Segment* segment(int id) const;
    // Every segment this wide; otherwise they share the control's width.
    void setSegmentWidth(int width);
    void setCurrent(int id);
    int current() const;

signals:
    void chosen(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Chooses the segment `step` places from the focused one, if there is one.
    void move(Segment* from, int step);
    // Makes the chosen segment, or the first while none is, the row's one tab stop.
    void keepTabStop();

    QButtonGroup* group_;
    int segmentWidth_ = 0;
};

}  // namespace corvalent
