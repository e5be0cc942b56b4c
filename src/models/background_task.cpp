#include "models/background_task.h"

#include <utility>

namespace corvalent {
namespace {

struct Lanes {
    QThreadPool processes;
    QThreadPool files;

    Lanes()
    {
        processes.setMaxThreadCount(2);  // a sample or a stop, beside an impact assessment
        files.setMaxThreadCount(4);      // a scan, its insights, a snapshot probe and a verification
    }
};

Lanes*& lanes()
{
    static Lanes* made = nullptr;
    return made;
}

// Called from the application object's destructor: each pool waits for its
// jobs before it goes.
void drainLanes()
{
    delete std::exchange(lanes(), nullptr);
}

}  // namespace

QThreadPool& BackgroundTask::pool(TaskLane lane)
{
    auto& made = lanes();
    if (made == nullptr) {
        made = new Lanes;
        qAddPostRoutine(drainLanes);
    }
    return lane == TaskLane::processes ? made->processes : made->files;
}

}  // namespace corvalent
