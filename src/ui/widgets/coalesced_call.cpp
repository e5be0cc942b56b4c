#include "ui/widgets/coalesced_call.h"

#include <QTimer>

#include <utility>

namespace corvalent {

CoalescedCall::CoalescedCall(QObject& owner, std::function<void()> run) : QObject(&owner), run_(std::move(run)) {}

void CoalescedCall::call()
{
    if (pending_) return;
    pending_ = true;
    // Bound to this object: a pending call goes with its owner.
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        run_();
    });
}

}  // namespace corvalent
