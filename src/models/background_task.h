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
};

class BackgroundTask {
public:
    BackgroundTask() = default;

    void cancel()
    {
        if (stop_) stop_->request_stop();
    }
    bool running() const { return stop_ && !*finished_; }

    // The pool of a lane, made on first use from the GUI thread. It is drained
    // and deleted while the application object is still there, so a job that
    // ends meanwhile still has somewhere to post its result.
    static QThreadPool& pool(TaskLane lane);

    // Waits at most `limit` for every lane's jobs, from the GUI thread. True
    // once they have all ended: the pools are then gone. False while a job
    // still runs, say blocked in a call on a hung file system, which nothing
    // can interrupt or join: the pools stay, and the caller ends the process
    // at once, running nothing more beside that job (see runApplication).
    static bool drainLanes(std::chrono::milliseconds limit);

    // `job(std::stop_token)` runs in the lane's pool; `deliver(result)` on the
    // GUI thread, unless `receiver` was destroyed or the task cancelled meanwhile.
    template <typename Job, typename Deliver>
    static BackgroundTask start(QObject* receiver, Job job, Deliver deliver, BackgroundTaskOptions options = {})
    {
        BackgroundTask task;
        task.stop_ = std::make_shared<std::stop_source>();
        task.finished_ = std::make_shared<bool>(false);
        QPointer<QObject> guard(receiver);
        auto stop = task.stop_;
        auto finished = task.finished_;
        pool(options.lane).start(
            [guard, stop, finished, options, job = std::move(job), deliver = std::move(deliver)]() mutable {
                QThread::currentThread()->setPriority(options.userInitiated ? QThread::NormalPriority
                                                                            : QThread::LowPriority);
                auto result = job(stop->get_token());
                // Posted to the application object, which outlives every model;
                // the guard is read on the GUI thread only.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [guard, stop, finished, options, deliver = std::move(deliver), result = std::move(result)]() mutable {
                        *finished = true;
                        if (guard.isNull() || (stop->stop_requested() && !options.deliverAfterStop)) return;
                        deliver(std::move(result));
                    },
                    Qt::QueuedConnection);
            });
        return task;
    }

private:
    std::shared_ptr<std::stop_source> stop_;
    std::shared_ptr<bool> finished_;
};

}  // namespace corvalent
