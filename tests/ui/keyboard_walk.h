#pragma once

// Driving a window from the keyboard alone, and reading a focus ring off
// the screen.

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>

namespace corvalent {

// Presses Tab on whatever has the focus, as a person would, until `target`
// has it; false when `most` presses never get there.
inline bool tabTo(QWidget& target, int most = 400)
{
    for (int presses = 0; presses < most && !target.hasFocus(); ++presses) {
        auto* at = QApplication::focusWidget();
        QTest::keyClick(at != nullptr ? at : target.window(), Qt::Key_Tab);
    }
    return target.hasFocus();
}

// Hands `window` the input focus, as a window manager would (Xvfb runs
// none), and waits until the application has made it its active window.
inline bool activate(QWidget& window)
{
    window.activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 10'000);
}

// How strongly the accent shows just inside a control's left edge, halfway
// down, where the kit draws its focus ring: the pixel's green over its red.
// Near 0 on a plain control, far above 40 with the ring, light or dark.
inline int ringStrength(QWidget& control)
{
    const auto colour = control.grab().toImage().pixelColor(1, control.height() / 2);
    return colour.green() - colour.red();
}

// Why the focus is not where a person can use it: on no control, on one
// that is hidden or scrolled out of sight, on one a reader cannot name, on
// a scroll area that shows no ring, on one cut off by the edge of the list
// it scrolls in (the footer below it), or on one under a control that
// floats over it (the shelf); empty when it is fine. A list view's focus is
// its current row, and the ring is drawn there.
inline std::string focusFault()
{
    auto* focus = QApplication::focusWidget();
    if (focus == nullptr) return "no focus";
    const auto* readable = QAccessible::queryAccessibleInterface(focus);
    if (readable == nullptr || readable->text(QAccessible::Name).isEmpty())
        return "unnamed " + std::string(focus->metaObject()->className());
    const auto name = readable->text(QAccessible::Name).toStdString();
    if (!focus->isVisible() || focus->visibleRegion().isEmpty()) return "out of sight: " + name;
    if (qobject_cast<QAbstractScrollArea*>(focus) != nullptr && qobject_cast<QAbstractItemView*>(focus) == nullptr &&
        ringStrength(*focus) < 40)
        return "no ring: " + name;
    QWidget* shown = focus;
    QRect whole = focus->rect();
    if (auto* view = qobject_cast<QAbstractItemView*>(focus); view != nullptr && view->currentIndex().isValid()) {
        shown = view->viewport();
        whole = view->visualRect(view->currentIndex());
    }
    if (!QRegion(whole).subtracted(shown->visibleRegion()).isEmpty()) return "cut off: " + name;
    // Along the middle, clear of a scroll bar laid over the right edge.
    for (const auto at : {QPoint(whole.center().x(), whole.top() + 1), whole.center(),
                          QPoint(whole.center().x(), whole.bottom() - 1)}) {
        auto* top = QApplication::widgetAt(shown->mapToGlobal(at));
        if (top != shown && !shown->isAncestorOf(top))
            return "under " + std::string(top ? top->metaObject()->className() : "nothing") + ": " + name;
    }
    return {};
}

}  // namespace corvalent
