#pragma once

// Work off the GUI thread: a job runs in its lane's thread pool with a stop
// token, and its result comes back to the GUI thread through a queued call.
// The result is dropped when the receiving object is gone or the task was
// cancelled; the caller's own check (a generation token) decides the rest.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <memory>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace corvalent {

// Each lane has a small pool of its own, so that a long scan or verification
// never holds back a process sample or a stop, nor the other way round, even
// on a machine with one or two cores.
enum class TaskLane {
    files,      // scans, insights, snapshots, the Trash, verification, access probes
    processes,  // samples, stops and impact assessments
};

struct BackgroundTaskOptions {
    TaskLane lane = TaskLane::files;
    bool userInitiated = false;     // normal priority instead of low
    bool deliverAfterStop = false;  // a stopped job still delivers (a scan's partial result)
    // Runs at once on a thread beyond the lane's count, never queued behind
    // the lane's jobs, some of which a hung file system may hold: for short
    // work that must answer whatever else waits (the Trash, the volume list).
    bool ownThread = false;
};

class BackgroundTask {
public:
    BackgroundTask() = default;

    // Asks the job to stop. A cancelled job that is still running no longer
    // counts against its lane: it may be blocked in a call no stop can end (a
    // hung file system), and the lane's next job must not wait behind it.
    void cancel()
    {
        if (!state_) return;
        state_->stop.request_stop();
        int holding = 0;
        if (state_->slot.compare_exchange_strong(holding, 1)) state_->pool->releaseThread();
    }
    bool running() const { return state_ && !state_->delivered; }

    // The pool of a lane, made on first use from the GUI thread. It is drained
    // and deleted while the application object is still there, so a job that
    // ends meanwhile still has somewhere to post its result.
    static QThreadPool& pool(TaskLane lane);

    // Waits at most `limit` for every lane's jobs, from the GUI thread. True
    // once they have all ended: the pools are then gone. False while a job
    // still runs, say blocked in a call on a hung file system, which nothing
    // can interrupt or join: the pools stay. Quitting ends the process after
    // it either way (see runApplication).
    static bool drainLanes(std::chrono::milliseconds limit);

    // `job(std::stop_token)` runs in the lane's pool; `deliver(result)` on the
    // GUI thread, unless `receiver` was destroyed or the task cancelled meanwhile.
    template <typename Job, typename Deliver>
    static BackgroundTask start(QObject* receiver, Job job, Deliver deliver, BackgroundTaskOptions options = {})
    {
        BackgroundTask task;
        task.state_ = std::make_shared<State>();
        task.state_->pool = &pool(options.lane);
        QPointer<QObject> guard(receiver);
        auto run = [guard, state = task.state_, options, job = std::move(job), deliver = std::move(deliver)]() mutable {
            QThread::currentThread()->setPriority(options.userInitiated ? QThread::NormalPriority
                                                                        : QThread::LowPriority);
            auto result = job(state->stop.get_token());
            // A job that gave its slot up on cancel takes it back as it ends,
            // and one that ran beyond the lane's count gives back its extra.
            if (state->slot.exchange(2) == 1) state->pool->reserveThread();
            if (options.ownThread) state->pool->reserveThread();
            // Posted to the application object, which outlives every model;
            // the guard is read on the GUI thread only.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, state, options, deliver = std::move(deliver), result = std::move(result)]() mutable {
                    state->delivered = true;
                    if (guard.isNull() || (state->stop.stop_requested() && !options.deliverAfterStop)) return;
                    deliver(std::move(result));
                },
                Qt::QueuedConnection);
        };
        if (!options.ownThread) {
            task.state_->pool->start(std::move(run));
        } else {
            // First in the queue, then one more thread for the lane, which
            // takes the queue's first job: this one, unless it started already.
            task.state_->pool->start(std::move(run), 1);
            task.state_->pool->releaseThread();
        }
        return task;
    }

private:
    struct State {
        std::stop_source stop;
        QThreadPool* pool = nullptr;
        std::atomic<int> slot{0};  // 0 holds its lane slot, 1 gave it up on cancel, 2 ended
        bool delivered = false;    // GUI thread only
    };
    std::shared_ptr<State> state_;
};

}  // namespace corvalent
