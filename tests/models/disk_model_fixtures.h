#pragma once

#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk.h"
#include "drain_lanes.h"
#include "models/disk_model.h"
#include "test_support.h"

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

// A home and Trash of the test's own, kept until no job reads them any more.
struct DrainedTempHome : TempHome {
    ~DrainedTempHome() { drainLanes(); }
};

// A model whose volume list and snapshot probe the test supplies, not the machine.
struct Harness {
    std::vector<DiskVolume> volumeList;
    DiskTrashHooks trashHooks = {};  // set before a move or a restore, read while it runs
    DiskModel model{environment()};
    DiskModelEnvironment environment()
    {
        auto environment = systemWithoutSnapshots();
        environment.volumes = [this] { return volumeList; };
        const auto forward = [](const std::function<void()>& hook) {
            return [&hook] {
                if (hook) hook();
            };
        };
        environment.trashHooks = {forward(trashHooks.beforeRename), forward(trashHooks.afterRename)};
        return environment;
    }
    ~Harness() { drainLanes(); }
    bool scanEnded() const
    {
        return QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000);
    }
    bool scanToEnd(const std::filesystem::path& path) { return model.scan(path.string()), scanEnded(); }
    std::optional<DiskTrashRequest> prepared(const DiskCleanupCandidate& candidate)
    {
        std::optional<DiskTrashRequest> request;
        EXPECT_TRUE(await([&](auto done) {
            model.prepareTrash(candidate, [&request, done](std::optional<DiskTrashRequest> ready) {
                request = std::move(ready);
                done();
            });
        }));
        return request;
    }
    bool moved(const DiskCleanupCandidate& candidate)
    {
        const auto request = prepared(candidate);
        return request && await([&](auto done) { model.moveToTrash(*request, done); });
    }
};

}  // namespace corvalent::testing
