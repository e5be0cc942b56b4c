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

// Posted events (layouts, deferred deletes, once-per-turn redraws) and every
// finite animation under `root`, or under every top-level window when null.
inline bool settle(const QObject* root = nullptr)
{
    const bool still = QTest::qWaitFor(
        [root] {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
