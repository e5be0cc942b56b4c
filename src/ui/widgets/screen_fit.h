#pragma once

// What a screen leaves a window, frame included, and the rule that keeps a
// sheet or a small window whole on its screen: never larger than that room,
// its frame inside the screen's available area. The main window's own rule
// follows its screen and frame the same way (WindowFit).

#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QStringView>

#include <functional>
#include <vector>

class QScreen;
class QWidget;
class QWindow;

namespace corvalent {

// The frame a window manager is likely to draw on `platform` before it has
// said: a title bar and thin borders; none where no window manager draws
// one (offscreen, minimal).
QMargins assumedFrame(QStringView platform);

// What a screen leaves a window's contents: its `available` area less the
// window's `frame`. On Wayland Qt knows only the whole output, so where the
// available area is the whole screen, room for a panel is left too.
QSize windowRoom(const QRect& available, const QRect& whole, const QMargins& frame, QStringView platform);

// `rect` moved, not resized, to lie inside `area` as far as it fits; where
// it is larger, its top-left corner meets the area's.
QRect keptInside(QRect rect, const QRect& area);

// Where the contents of a window of `size` go so that its `frame` is
// centred on `over` and lies inside `area`, as far as it fits.
QRect centredInside(QSize size, const QMargins& frame, const QRect& over, const QRect& area);

// The size `window`'s layout asks for at `width`: a sheet as tall as its
// content.
QSize layoutSizeAt(QWidget& window, int width);

// Follows a window for a fit that keeps it on its screen: from the first
// show on, the screen it is on, that screen's available area and the frame
// the window manager draws. A child of `window`.
class WindowFit : public QObject {
protected:
    explicit WindowFit(QWidget& window);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Each time the window is shown, once its screen is followed; `opening`
    // when the program shows it, not the platform again.
    virtual void shown(bool /*opening*/) {}
    // The window is on a new screen.
    virtual void fit() = 0;
    // Its screen's available area changed.
    virtual void roomChanged() { fit(); }
    // Its frame is known, or changed.
    virtual void place() = 0;
    // The window manager moved it, once framed.
    virtual void moved() {}

    // Moves the window so that its frame, at `size`, lies inside `area`. A
    // Wayland compositor places windows itself: there it stays.
    void moveFrameInside(QSize size, const QRect& area);

    QWidget& window_;
    QPointer<QWindow> handle_;
    bool framed_ = false;
    QMargins frame_;

private:
    void follow();
    void watch(QScreen* screen);

    QMetaObject::Connection screenRoom_;
};

// Keeps a sheet or small window whole on its screen. The window's fixed size
// is what `wanted` asks for, bounded by the room its screen leaves it. It
// opens centred on its owner's window, and stays centred as its size settles
// and once the window manager has framed it, until the person moves it; its
// frame always lies inside the screen's available area. All of this follows
// the screen and its room. A child of `window`.
class ScreenFit : public WindowFit {
public:
    ScreenFit(QWidget& window, std::function<QSize()> wanted);

    // Fits again; call after what `wanted` gives has changed.
    void fit() override;
    // The room the window's screen leaves it now; empty without a screen.
    QSize room() const;

protected:
    void shown(bool opening) override;
    void roomChanged() override;
    void place() override;
    void moved() override;

private:
    QScreen* screen() const;
    QMargins frame() const;
    void centre();
    // Whether the window is still where it was centred since it opened. A
    // move the window manager has not answered yet leaves the window where
    // it was centred before, so each place asked for counts.
    bool isWhereCentred() const;

    std::function<QSize()> wanted_;
    std::vector<QPoint> centredAt_;  // the contents' top-lefts it was centred at, the latest last
    bool placed_ = false;            // centred once with its frame known
    int recentred_ = 0;              // after a late answer, since it opened
};

}  // namespace corvalent
