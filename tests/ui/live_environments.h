#pragma once

// The environments the ui tests give the two models: the real process table,
// and a disk side with nothing to list. A model made from them is told that
// the main window is shown.

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/process/processes.h"
#include "models/background_task.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"

namespace corvalent {

inline VantleModelEnvironment liveProcessEnvironment()
{
    return VantleModelEnvironment::system();
}

inline DiskModelEnvironment quietDiskEnvironment()
{
    DiskModelEnvironment disk;
    disk.volumes = [] { return std::vector<DiskVolume>{}; };
    disk.snapshotSummary = [](const std::string&, std::stop_token) { return std::optional<APFSSnapshotSummary>{}; };
    disk.uptime = uptimeSeconds;
    return disk;
}

// Lets process work still under way finish and deliver before the models go.
inline void drainProcessLane()
{
    EXPECT_TRUE(BackgroundTask::pool(TaskLane::processes).waitForDone(60'000));
    QCoreApplication::processEvents();
}

}  // namespace corvalent
