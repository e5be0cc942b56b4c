#pragma once

// A model of the test's own for moves to the Trash: a home and Trash of its
// own, scanned with the volumes the test lists.

#include <QTest>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "disk_model_fixtures.h"
#include "drain_lanes.h"
#include "models/disk_model.h"
#include "test_support.h"

namespace corvalent::testing {

constexpr std::size_t megabyte = 1'000'000;  // duplicates are looked for from 10 MB up

// A home and Trash of the test's own, and a model scanning them with the
// volumes the test lists.
struct Moves {
    explicit Moves(TempHome::Reached reached = TempHome::Reached::directly) : temp(reached) {}

    TempHome temp;
    std::filesystem::path root = std::filesystem::canonical(temp.root.path());
    Harness harness{{volumeAt("/"), volumeAt("/mnt/other")}};
    DiskModel& model = harness.model;

    static DiskVolume volumeAt(const std::string& url)
    {
        return listedVolume(url, 1'000'000'000'000, 500'000'000'000);
    }

    // A scan of the home and the Trash, and the insights of its result.
    bool rescanned()
    {
        model.scan(root.string());
        if (!QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000))
            return false;
        drainLanes();
        return model.status().kind == DiskModelStatus::Kind::ready;
    }
    bool moved(const std::filesystem::path& path, bool isDirectory = false)
    {
        std::optional<DiskTrashRequest> request;
        const auto candidate = model.cleanupCandidate(path.string(), 1, isDirectory);
        return await([&](auto done) {
                   model.prepareTrash(candidate, [&request, done](auto ready) { request = ready, done(); });
               }) &&
               request && await([&](auto done) { model.moveToTrash(*request, done); }) && !std::filesystem::exists(path);
    }
    bool offered(const std::filesystem::path& path) const
    {
        return std::ranges::find(model.cleanupCandidates(), path.string(), &DiskCleanupCandidate::path) !=
               model.cleanupCandidates().end();
    }
    // Listed as the sidebar lists a largest file: in the result and not moved since.
    bool listed(const std::filesystem::path& path) const
    {
        const auto& files = model.result()->largestFiles;
        return std::ranges::find(files, path.string(), &DiskFile::path) != files.end() &&
               !model.movedSinceScan(path.string());
    }
    const DiskTrashReceipt& receiptOf(const std::filesystem::path& path) const
    {
        return *std::ranges::find(model.recentTrash(), path.string(), &DiskTrashReceipt::originalPath);
    }
};

}  // namespace corvalent::testing
