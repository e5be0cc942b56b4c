#pragma once

// What a finished scan means for the user: cleanup candidates with a safety
// level, the running work that uses them, how urgent free space is, storage
// per running owner, and the scan set against the volume's own figures.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/paths.h"
#include "core/disk/disk.h"
#include "core/disk/disk_ownership.h"

namespace corvalent {

// `protected_`: "protected" is a keyword here.
enum class DiskCleanupSafety { safe, review, protected_ };

// "safe", "review", "protected".
std::string_view rawValue(DiskCleanupSafety safety);
std::optional<DiskCleanupSafety> diskCleanupSafetyFromRaw(std::string_view raw);

enum class DiskCleanupCategory {
    cache, logs, downloads, developer, installer, application, container, personal, system, cloud, database, other,
};

// The display titles: "Cache", "Logs", ... "Other".
std::string_view rawValue(DiskCleanupCategory category);
std::optional<DiskCleanupCategory> diskCleanupCategoryFromRaw(std::string_view raw);

// An item offered for review.
struct DiskCleanupCandidate {
    std::string path;  // standardized, case kept
    std::uint64_t bytes = 0;
    bool isDirectory = false;
    DiskCleanupSafety safety = DiskCleanupSafety::review;
    DiskCleanupCategory category = DiskCleanupCategory::other;
    std::string reason;
    std::string consequence;
    std::vector<std::string> activeOwners;  // distinct, sorted
    // What the scan measured of the item, when the candidate came from one:
    // the item at the path moves only while it is still that item.
    std::optional<DiskScannedItem> scanned = std::nullopt;

    const std::string& id() const { return path; }
    std::string_view name() const;
    bool canMoveToTrash() const { return safety != DiskCleanupSafety::protected_; }
    bool operator==(const DiskCleanupCandidate&) const = default;
};

enum class DiskRescueUrgency { comfortable, tight, critical };

struct DiskRescuePlan {
    DiskRescueUrgency urgency = DiskRescueUrgency::comfortable;
    std::uint64_t targetAvailable = 0;
    std::uint64_t bytesToTarget = 0;
    std::uint64_t lowRiskBytes = 0;
    std::uint64_t reviewBytes = 0;
    std::uint64_t projectedAvailableAfterLowRisk = 0;

    bool hasOpportunities() const { return lowRiskBytes > 0 || reviewBytes > 0; }
    bool operator==(const DiskRescuePlan&) const = default;
};

struct DiskActiveStorageSummary {
    std::string id;
    std::string name;
    std::uint64_t memory = 0;
    std::optional<double> cpu;
    std::uint64_t linkedBytes = 0;
    std::int64_t linkedItems = 0;
    std::uint64_t protectedBytes = 0;
    std::vector<DiskOwnerStorageSegment> segments;
    bool operator==(const DiskActiveStorageSummary&) const = default;
};

struct DiskStorageReconciliation {
    bool isWholeVolume = false;
    std::uint64_t measuredFiles = 0;
    std::optional<std::uint64_t> occupiedOnDisk;
    std::uint64_t usableSpace = 0;
    std::uint64_t immediatelyFree = 0;
    std::uint64_t reclaimable = 0;
    std::optional<std::uint64_t> notMeasured;
    std::optional<std::uint64_t> measuredBeyondFilesystemTotal;
    std::int64_t inaccessibleEntries = 0;
    std::int64_t privacySkippedLocations = 0;
    std::int64_t cloudPlaceholderCount = 0;
    std::uint64_t cloudPlaceholderLogicalBytes = 0;

    static DiskStorageReconciliation make(const DiskScanResult& result, const DiskVolume* volume);
    bool operator==(const DiskStorageReconciliation&) const = default;
};

namespace DiskInsights {

// The one decision every offered or trashed item passes through. It reads
// nothing on disk but, once, where the home folder and its Trash really are.
DiskCleanupCandidate classify(std::string_view path, std::uint64_t bytes, bool isDirectory,
                              const std::vector<std::string>& activeOwners);
// As above with the home folder given; reads nothing on disk. What lies in a
// Trash is protected: by its layout, or below one of `trashFolders`, the
// folders a scan found to be the home Trash (DiskScanResult::trashFolders).
DiskCleanupCandidate classify(std::string_view path, std::uint64_t bytes, bool isDirectory,
                              const std::vector<std::string>& activeOwners, const Paths::Home& home,
                              const std::vector<std::string>& trashFolders = {});

std::vector<DiskCleanupCandidate> candidates(const DiskScanResult& result, const std::vector<DiskProcessOwner>& owners,
                                             int limit);
std::vector<DiskProcessOwner> matchingOwners(std::string_view path, const std::vector<DiskProcessOwner>& owners);

DiskRescuePlan rescuePlan(const DiskCapacity& capacity, const std::vector<DiskCleanupCandidate>& candidates);
std::vector<DiskActiveStorageSummary> activeStorageSummaries(const std::vector<DiskOwnerStorage>& storage,
                                                             const std::vector<DiskCleanupCandidate>& candidates,
                                                             const std::vector<DiskProcessOwner>& owners);
std::vector<DiskActiveStorageSummary> activeStorageSummaries(const std::vector<DiskCleanupCandidate>& candidates,
                                                             const std::vector<DiskProcessOwner>& owners);

}  // namespace DiskInsights
}  // namespace corvalent
