#pragma once

// Local file-system snapshots hold space that no scan of the files can see.
// The volume's own tool lists them as a property list; where that tool does
// not exist (Linux has none), the probe answers no summary at once.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace corvalent {

struct APFSSnapshotSummary {
    std::int64_t count = 0;
    std::optional<std::int64_t> purgeableCount;  // absent when no snapshot says either way
    bool operator==(const APFSSnapshotSummary&) const = default;
};

struct APFSSnapshotProbeOptions {
    std::string tool = "/usr/sbin/diskutil";
    std::chrono::milliseconds runLimit{3000};    // the tool may run this long
    std::chrono::milliseconds outputWait{1000};  // then its output is awaited at most this long
};

namespace APFSSnapshotProbe {

// Runs `tool apfs listSnapshots <volumePath> -plist` and reads its answer.
// None when the tool is missing, fails, overruns or prints no usable list.
// A stop requested while the tool runs ends it (terminate, then kill).
std::optional<APFSSnapshotSummary> summary(const std::string& volumePath, std::stop_token stop = {},
                                           const APFSSnapshotProbeOptions& options = {});

}  // namespace APFSSnapshotProbe

namespace DiskInsights {

// Reads an XML property list whose top-level dictionary holds the snapshots
// under "Snapshots" (or, failing that, "APFSSnapshots"). Binary property
// lists and anything malformed give none.
std::optional<APFSSnapshotSummary> parseAPFSSnapshots(std::string_view plist);

}  // namespace DiskInsights
}  // namespace corvalent
