#pragma once

// One run per event-loop turn: a sample changes several things at once, and
// each change asks for the same redraw. `call()` schedules the function for
// the next turn unless it is already scheduled. The call is a child of its
// owner, so it dies with it and never runs on a destroyed owner.

#include <QObject>

#include <functional>

namespace corvalent {

class CoalescedCall : public QObject {
public:
    CoalescedCall(QObject& owner, std::function<void()> run);

    void call();
    bool isPending() const { return pending_; }

private:
    std::function<void()> run_;
    bool pending_ = false;
};

}  // namespace corvalent
