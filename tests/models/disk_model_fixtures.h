#pragma once

#include <QSettings>
#include <QTest>

#include <cstdint>
#include <string>

#include "core/disk/disk.h"
#include "models/disk_model.h"

namespace corvalent::testing {

// A volume the test lists, with the capacity it gives.
inline DiskVolume listedVolume(const std::string& url, std::uint64_t total, std::uint64_t available)
{
    return {url, url, url, DiskCapacity::make(url, total, available), true, false};
}

// The model's environment on this machine, with fresh settings and
// without the snapshot probe.
inline DiskModelEnvironment systemWithoutSnapshots()
{
    QSettings().clear();
    auto environment = DiskModelEnvironment::system();
    environment.snapshotSummary = [](const std::string&, std::stop_token) { return std::nullopt; };
    return environment;
}

// Runs an action that reports its end through a callback, and waits for it.
template <typename Action>
bool await(Action action, int timeoutMs = 20'000)
{
    bool done = false;
    action([&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, timeoutMs);
}

}  // namespace corvalent::testing
