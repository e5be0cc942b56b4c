#include "models/background_task.h"

#include <QDeadlineTimer>

#include <algorithm>
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

// Called by drainLanes once every job has ended, and from the application
// object's destructor, which a quitting program never reaches (it ends with
// _Exit) but tests do: there each pool waits for its jobs before it goes.
void deleteLanes()
{
    delete std::exchange(lanes(), nullptr);
}

}  // namespace

bool BackgroundTask::drainLanes(std::chrono::milliseconds limit)
{
    if (lanes() == nullptr) return true;
    const QDeadlineTimer deadline(limit);
    for (auto* pool : {&lanes()->files, &lanes()->processes}) {
        if (!pool->waitForDone(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) return false;
    }
    deleteLanes();
    return true;
}

QThreadPool& BackgroundTask::pool(TaskLane lane)
{
    auto& made = lanes();
    if (made == nullptr) {
        made = new Lanes;
        qAddPostRoutine(deleteLanes);
    }
    return lane == TaskLane::processes ? made->processes : made->files;
}

}  // namespace corvalent
