#pragma once

// Storage attributed to running work: each running process group, seen from
// the disk side, claims its application, its working folders and its folders
// in the home folder; a scan counts every file below such a path for it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvalent {

// A running process group as the disk side sees it (made from one by
// `diskProcessOwner`).
struct DiskProcessOwner {
    std::string id;
    std::string name;
    std::optional<std::string> appPath;
    std::vector<std::string> workingDirectories;  // distinct, sorted; none holds the home folder
    std::uint64_t memory = 0;
    std::optional<double> cpu;

    bool operator==(const DiskProcessOwner&) const = default;
};

enum class DiskOwnerStorageKind { application, cache, logs, support, project, container };

// "App", "Caches", "Logs", "Support", "Projects", "Containers".
std::string_view rawValue(DiskOwnerStorageKind kind);
std::optional<DiskOwnerStorageKind> diskOwnerStorageKindFromRaw(std::string_view raw);
inline constexpr DiskOwnerStorageKind allDiskOwnerStorageKinds[] = {
    DiskOwnerStorageKind::application, DiskOwnerStorageKind::cache,   DiskOwnerStorageKind::logs,
    DiskOwnerStorageKind::support,     DiskOwnerStorageKind::project, DiskOwnerStorageKind::container,
};

struct DiskOwnerStorageSegment {
    DiskOwnerStorageKind kind = DiskOwnerStorageKind::application;
    std::uint64_t bytes = 0;
    std::int64_t fileCount = 0;
    bool operator==(const DiskOwnerStorageSegment&) const = default;
};

struct DiskOwnerStorage {
    std::string id;
    std::string name;
    std::vector<DiskOwnerStorageSegment> segments;  // bytes descending, then kind title

    std::uint64_t bytes() const;
    std::int64_t fileCount() const;
    bool operator==(const DiskOwnerStorage&) const = default;
};

// What is left of a scan's owner storage once the files counted in `removed`
// are gone (moved to the Trash): a segment that keeps no file drops out, and
// so does an owner that keeps no segment. In the order `results()` gives.
std::vector<DiskOwnerStorage> remainingStorage(const std::vector<DiskOwnerStorage>& storage,
                                               const std::vector<DiskOwnerStorage>& removed);

// Counts the files of one scan for the owners whose paths hold them. Used by
// one scan on one thread.
class DiskOwnershipAccumulator {
public:
    // Reads the file system: which of the owners' folders in the home exist.
    // `home` is the home folder to look in, spelled as the scan spells paths.
    DiskOwnershipAccumulator(const std::vector<DiskProcessOwner>& owners, const std::string& home);

    void record(std::string_view path, std::uint64_t bytes);
    std::vector<DiskOwnerStorage> results() const;

    static constexpr std::size_t cacheLimit = 50'000;

private:
    struct Link {
        std::string ownerID;
        std::string ownerName;
        DiskOwnerStorageKind kind;
        bool operator==(const Link&) const = default;
    };
    struct SegmentValue {
        std::uint64_t bytes = 0;
        std::int64_t files = 0;
    };
    struct OwnerValue {
        std::string name;
        std::unordered_map<DiskOwnerStorageKind, SegmentValue> segments;
    };
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    using LinkTable = std::unordered_map<std::string, std::vector<Link>, PathHash, std::equal_to<>>;

    void add(const std::string& path, Link link);
    // The totals a file at `path` counts into; valid until the next call.
    const std::vector<SegmentValue*>& segmentsOf(std::string_view path);
    std::vector<SegmentValue*> segmentsFor(const std::vector<Link>& links);
    std::vector<Link> linksOfFolder(std::string_view parent);
    static std::vector<Link> deduplicated(const std::vector<Link>& links);

    LinkTable prefixes_;
    std::unordered_map<std::string, OwnerValue> values_;
    LinkTable directoryCache_;
    std::vector<bool> prefixLengths_;  // lengths of the paths in prefixes_
    std::string lastFolder_;
    bool hasLastFolder_ = false;
    std::vector<SegmentValue*> lastFolderSegments_;
    std::vector<SegmentValue*> exactSegments_;
};

}  // namespace corvalent
