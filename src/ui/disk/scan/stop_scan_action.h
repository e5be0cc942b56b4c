#pragma once

// The control that stops the running scan and keeps what was found so far,
// with the bubble that says so while the control is under the pointer or
// has keyboard focus. Escape presses it while its panel is shown.
//
// This widget only holds the control's place in the panel's layout. The
// control and its bubble are children of the panel, placed from here: the
// bubble reaches below the place and the control lifts a pixel out of it,
// neither of which a child of the place could do without being clipped.

#include <QWidget>

#include <functional>

#include "ui/widgets/app_motion.h"

class QAbstractButton;

namespace corvalent {

class DiskModel;
class DiskViewState;

// A value from 0 to 1 that follows a flag, eased by one of the named
// animations (at once under reduced motion).
class Eased {
public:
    double value() const { return value_; }
    // `changed` runs on every step; the owner keeps the animation.
    void follow(QObject* owner, bool on, const AppMotion::Animation& animation, std::function<void()> changed);

private:
    double value_ = 0;
    double target_ = 0;
    int generation_ = 0;
};

class StopScanAction : public QWidget {
public:
    // `stopScan` is the page's one stop command; `panel` draws the control.
    StopScanAction(DiskModel& model, DiskViewState& state, std::function<void()> stopScan, QWidget* panel);

    QAbstractButton* button() const { return button_; }
    QWidget* hint() const { return hint_; }
    // Follows the model's stopping flag.
    void refresh();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool hintShown() const;
    void followHint(const AppMotion::Animation& animation);
    void place();

    DiskModel& model_;
    DiskViewState& state_;
    QAbstractButton* button_;
    QWidget* hint_;
    bool stopping_ = false;
    Eased hintShownAmount_;
};

}  // namespace corvalent
