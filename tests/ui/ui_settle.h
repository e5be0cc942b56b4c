#pragma once

// Waits on state, never on the clock: what a change started has landed when
// the posted events are through and no animation under the widget still runs.
// Tests run with reduced motion, so only the fades that stand in for motion
// there are left to end.

#include <QAbstractAnimation>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include "drain_lanes.h"

namespace corvalent {

inline bool animating(const QObject& root)
{
    for (const auto* animation : root.findChildren<QAbstractAnimation*>()) {
        if (animation->state() == QAbstractAnimation::Running && animation->loopCount() != -1) return true;
    }
    return false;
}

// Posted events until a pass delivers no layout request and no queued call:
// a layout placed a widget, its parent's layout placed it in turn, a scroll
// followed, each a pass later.
inline void settleLayouts()
{
    struct Counter : QObject {
        int delivered = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::MetaCall) ++delivered;
            return false;
        }
    } counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    for (int pass = 0, before = -1; pass < 64 && counter.delivered != before; ++pass) {
        before = counter.delivered;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QCoreApplication::instance()->removeEventFilter(&counter);
}

// Posted events (layouts to the last nested one, deferred deletes,
// once-per-turn redraws) and every finite animation under `root`, or under
// every top-level window when null.
inline bool settle(const QObject* root = nullptr)
{
    const bool still = QTest::qWaitFor(
        [root] {
            settleLayouts();
            if (root != nullptr) return !animating(*root);
            for (const auto* window : QApplication::topLevelWidgets()) {
                if (animating(*window)) return false;
            }
            return true;
        },
        10'000);
    QCoreApplication::processEvents();
    return still;
}

// Every job already in the background lanes ended and delivered, and then
// settled as above: what those deliveries started has landed too.
inline bool settleAfterJobs(const QObject* root = nullptr)
{
    drainLanes();
    return settle(root);
}

}  // namespace corvalent
