#pragma once

// A thin scroll bar laid over the right edge of a scroll area's viewport, so
// the content keeps its full width whether or not it scrolls. It shows only
// while there is something to scroll. The area's own bar stays the one source
// of range and value: keyboard and focus scrolling keep working through it.

#include <QWidget>

#include <optional>

class QAbstractScrollArea;
class QScrollArea;
class QScrollBar;

namespace corvalent {

class OverlayScrollBar : public QWidget {
    Q_OBJECT

public:
    // Turns the area's own vertical bar off and lays this one over the
    // viewport; owned by the area.
    explicit OverlayScrollBar(QAbstractScrollArea& area);

    // The thumb in this widget's coordinates; empty while nothing scrolls.
    QRectF thumb() const;
    // Keeps the bar out of the viewport's foot, where something floats over it.
    void setBottomInset(int inset);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRectF track() const;
    void place();
    void sync();

    QScrollBar* bar_;
    QWidget* viewport_;           // the area's; both outlive this child of the area
    std::optional<double> grab_;  // where in the thumb a drag holds it
    int bottomInset_ = 0;
    bool hovering_ = false;
};

// A frameless, transparent area that scrolls `content` vertically under an
// overlay bar, and meets the keyboard as followKeyboard() says.
// QScrollArea::setWidget turns the content's fill back on, so it is turned
// off again after it.
QScrollArea* transparentScrollArea(QWidget* content, QWidget* parent = nullptr);

// The same area for the body of a sheet `width` wide: it asks for its
// content's whole height at that width, at most `tallest`, and gives way
// down to a few lines when the screen leaves the sheet less room.
QScrollArea* sheetScrollArea(QWidget* content, int width, int tallest = QWIDGETSIZE_MAX);

}  // namespace corvalent
