#pragma once

// Lets every job already in the background lanes end and deliver, so a test
// can assert that nothing came without waiting a while to see. Rounds, since
// a delivery may start the next job.

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "models/background_task.h"

namespace corvalent {

inline void drainLanes()
{
    for (int round = 0; round < 10; ++round) {
        for (const auto lane : {TaskLane::files, TaskLane::processes})
            EXPECT_TRUE(BackgroundTask::pool(lane).waitForDone(60'000));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (BackgroundTask::pool(TaskLane::files).activeThreadCount() == 0 &&
            BackgroundTask::pool(TaskLane::processes).activeThreadCount() == 0)
            return;
    }
}

}  // namespace corvalent
