#pragma once

// Volumes, their capacity, and the read-only scan of a folder or volume into
// a bounded tree with its largest files and possible duplicates.
//
// Paths keep the file system's bytes. Names that are not valid UTF-8 never
// get a node or a duplicate entry of their own (a lossy spelling could name
// another file); their bytes count toward the nearest folder that has one.
// The largest files keep them, raw, so that a large one can still be found.

#include <chrono>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bridge/mount_table.h"
#include "core/common/paths.h"

#include "core/disk/disk_ownership.h"

namespace corvalent {

// A volume's capacity in bytes. `available` and `immediatelyAvailable` never
// exceed `total`.
struct DiskCapacity {
    std::string volumeName;
    std::uint64_t total = 0;
    std::uint64_t available = 0;
    std::uint64_t immediatelyAvailable = 0;

    static DiskCapacity make(std::string volumeName, std::uint64_t total, std::uint64_t available,
                             std::optional<std::uint64_t> immediatelyAvailable = std::nullopt);

    std::uint64_t used() const;
    std::uint64_t occupied() const;
    std::uint64_t reclaimable() const;  // space the system could purge on demand
    double usedFraction() const;

    bool operator==(const DiskCapacity&) const = default;
};

// A mounted volume.
struct DiskVolume {
    std::string id;   // the resolved mount folder ("/" for the system volume)
    std::string name;
    std::string url;  // the resolved mount folder, as a path
    DiskCapacity capacity;
    bool isInternal = false;
    bool isRemovable = false;

    bool operator==(const DiskVolume&) const = default;
};

// One node of a scanned tree: a folder, or one of two pseudo-children that
// hold what the tree's bounds leave out.
struct DiskNode {
    std::string id;
    std::string name;
    std::optional<std::string> path;  // none for "Other folders"
    std::uint64_t bytes = 0;          // allocated bytes of everything below
    std::int64_t fileCount = 0;
    bool isDirectory = false;
    std::vector<DiskNode> children;
    // The folder's own, as the walk described it; 0 when it did not (a pseudo-child).
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // The first node with this id in pre-order, the node itself included.
    const DiskNode* node(std::string_view withID) const;
    // The node one of whose direct children has this id.
    const DiskNode* parent(std::string_view of) const;

    bool operator==(const DiskNode&) const = default;
};

inline constexpr std::string_view otherFoldersSuffix = "/.corvalent-other-folders";
inline constexpr std::string_view directFilesSuffix = "/.corvalent-direct-files";

// A time as the file system keeps it.
struct DiskFileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const DiskFileTime&) const = default;
};

// One scanned file.
struct DiskFile {
    std::string path;
    std::uint64_t bytes = 0;  // allocated; 0 for a repeated hard link
    std::uint64_t logicalBytes = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool isCloudPlaceholder = false;
    DiskFileTime modified = {};  // as the scan found it

    const std::string& id() const { return path; }
    std::string_view name() const;
    bool operator==(const DiskFile&) const = default;
};

// What a scan measured of an item itself, never of what a folder holds: what
// tells later that the item at its path is no longer the one measured. Not
// the blocks a file occupies: the file system changes those on its own (a
// file written out just now gains an extent block, preallocation is trimmed).
struct DiskScannedItem {
    bool isDirectory = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::optional<std::uint64_t> logicalBytes;  // a file's size
    std::optional<DiskFileTime> modified;       // a file's modification time

    // None when the scan did not describe the item, and for a pseudo-child.
    static std::optional<DiskScannedItem> of(const DiskFile& file);
    static std::optional<DiskScannedItem> of(const DiskNode& node);
    bool operator==(const DiskScannedItem&) const = default;
};

// What deleting all copies but one would free: the allocated bytes of all
// files (saturating) minus those of the smallest.
std::uint64_t recoverableBytes(const std::vector<DiskFile>& files);

// Files of one logical size that may hold the same content.
struct DiskDuplicateGroup {
    std::string id;  // "<size>:<first path>"
    std::uint64_t logicalBytesPerFile = 0;
    std::vector<DiskFile> files;  // by path
    std::uint64_t estimatedRecoverableBytes = 0;  // all copies but the smallest

    static DiskDuplicateGroup make(std::uint64_t logicalBytesPerFile, std::vector<DiskFile> files);
    bool operator==(const DiskDuplicateGroup&) const = default;
};

struct DiskScanProgress {
    std::int64_t scannedEntries = 0;
    std::int64_t scannedFiles = 0;
    std::uint64_t measuredBytes = 0;
    bool operator==(const DiskScanProgress&) const = default;
};

struct DiskScanResult {
    DiskNode root;
    std::vector<DiskFile> largestFiles;  // at most 40, largest first
    std::int64_t scannedEntries = 0;
    std::int64_t inaccessibleEntries = 0;
    std::int64_t privacySkippedLocations = 0;
    std::int64_t cloudPlaceholderCount = 0;
    std::uint64_t cloudPlaceholderLogicalBytes = 0;
    std::vector<DiskDuplicateGroup> potentialDuplicateGroups;  // at most 100
    std::vector<DiskOwnerStorage> ownerStorage;                // storage per running owner
    // Folders the walk met whose device and inode are the home Trash's or its
    // files folder's, under a name its layout does not tell (a bind mount),
    // as the scan spells them; at most maxTrashFolders. Paths::isInTrash
    // takes them.
    std::vector<std::string> trashFolders;
    bool cancelled = false;
    double duration = 0;  // seconds

    static constexpr std::size_t maxTrashFolders = 64;
    bool operator==(const DiskScanResult&) const = default;
};

// Keeps the largest files by allocated bytes, in bounded memory.
class LargestFileCollector {
public:
    explicit LargestFileCollector(int limit) : limit_(limit) {}
    void consider(DiskFile file);
    // Whether a file of `bytes` would be kept now: callers skip building
    // the others.
    bool admits(std::uint64_t bytes) const
    {
        return limit_ >= 1 && bytes != 0 && (heap_.size() < static_cast<std::size_t>(limit_) || bytes > heap_.front().bytes);
    }
    // Largest first; equal sizes by path.
    std::vector<DiskFile> descending() const;

private:
    void siftUp(std::size_t index);
    void siftDown(std::size_t index);

    int limit_;
    std::vector<DiskFile> heap_;  // min-heap on bytes
};

// Groups files of at least 10,000,000 logical bytes by exact size, in
// bounded memory.
class PotentialDuplicateCollector {
public:
    void consider(DiskFile file);
    // Whether a file of this size could be kept now: callers skip building
    // the others.
    bool admits(std::uint64_t logicalBytes) const
    {
        if (logicalBytes < smallestSize) return false;
        const auto bucket = buckets_.find(logicalBytes);
        return bucket == buckets_.end() || bucket->second.size() < maxFilesPerBucket;
    }
    // Groups of files of one size with at least two of them outside every
    // Trash (`inTrash` says which are in one; none without it), largest
    // saving first, at most maxGroups. A copy in a Trash stays in its group,
    // but a group needs two others to be one.
    std::vector<DiskDuplicateGroup> groups(const std::function<bool(const DiskFile&)>& inTrash = {}) const;

    static constexpr std::uint64_t smallestSize = 10'000'000;
    static constexpr std::size_t maxBuckets = 50'000;
    static constexpr std::size_t maxFilesPerBucket = 8;
    static constexpr std::size_t maxGroups = 100;

private:
    std::unordered_map<std::uint64_t, std::vector<DiskFile>> buckets_;
    // Sizes seen only once so far: when the buckets are full, these make room,
    // so that the cap never fills up with files that have no partner.
    std::unordered_set<std::uint64_t> singleFileSizes_;
};

// A mounted volume whose figures did not come in time for a list.
struct DiskUnresponsiveVolume {
    std::string id;  // the mount folder
    std::string name;
    bool isInternal = false;
    bool isRemovable = false;

    bool operator==(const DiskUnresponsiveVolume&) const = default;
};

// A volume listed or named is external unless it reports itself internal,
// and when it is removable (a card reader inside the case).
template <typename Volume>
    requires std::same_as<Volume, DiskVolume> || std::same_as<Volume, DiskUnresponsiveVolume>
bool isExternal(const Volume& volume)
{
    return !volume.isInternal || volume.isRemovable;
}

// One volume list: the volumes whose figures came, and the volumes mounted
// whose figures did not, each in the list's order.
struct DiskVolumeList {
    std::vector<DiskVolume> volumes;
    std::vector<DiskUnresponsiveVolume> notResponding;

    // Not explicit: a plain list of volumes is a list in which every volume answered.
    DiskVolumeList(std::vector<DiskVolume> volumes = {}, std::vector<DiskUnresponsiveVolume> notResponding = {})
        : volumes(std::move(volumes)), notResponding(std::move(notResponding))
    {
    }
    bool operator==(const DiskVolumeList&) const = default;
};

// What the readers sent by DiskScanner::volumes() learnt of each mount, kept
// across its calls. A reader's child process may wait on a mount that does
// not answer, in the kernel, where nothing can interrupt it: while a mount's
// reader is out, no other is sent after it. An answer that comes after its
// list was made is kept for the next list. The caller keeps one cache across
// its calls, and the readers left behind share it.
class MountFigureCache {
public:
    // A file system's figures, as a reader's `stat --file-system` child
    // prints them: its block size and three counts of those blocks.
    struct Figures {
        std::uint64_t unit = 0;  // bytes per block
        std::uint64_t blocks = 0;
        std::uint64_t freeBlocks = 0;
        std::uint64_t availableBlocks = 0;  // free to the user
    };
    // What is known of one mount.
    struct Mount {
        bool reading = false;  // a reader is out
        std::chrono::steady_clock::time_point readingSince;
        bool answered = false;           // a reader came back ...
        std::optional<Figures> figures;  // ... with these, or none when they could not be read
        bool slow = false;               // ... later than a list waits
    };

    // The key of a mount: its mount point and device, since a mount point may
    // be mounted over.
    static std::string keyOf(const MountEntry& entry);
    // Records a reader sent after `mount`; false, sending none, while one is out.
    bool beginRead(const std::string& mount);
    // A reader that could not be sent.
    void cancelRead(const std::string& mount);
    // A reader's answer; wakes the lists waiting for it.
    void endRead(const std::string& mount, std::optional<Figures> figures, bool slow);
    // Waits until no reader of `mounts` is out, or until `deadline`.
    void awaitReads(const std::vector<std::string>& mounts, std::chrono::steady_clock::time_point deadline);
    Mount mount(const std::string& key) const;
    // Forgets every mount not in `mounts` that has no reader out.
    void keepOnly(const std::vector<std::string>& mounts);

private:
    mutable std::mutex lock_;
    std::condition_variable answered_;
    std::map<std::string, Mount> mounts_;
};

namespace DiskScanner {

inline constexpr int defaultHierarchyDepth = 6;
inline constexpr int defaultChildrenPerFolder = 14;
inline constexpr int defaultMapNodeLimit = 100'000;

using ProgressHandler = std::function<void(const DiskScanProgress&)>;

// Where the privacy-protected folders are: below the home folder (the one
// Paths::homeFolder() names, in both its spellings), and the desktop's own
// Desktop, Documents and Downloads folders as its folder settings
// (user-dirs.dirs) name them, each standardized; one set to the home folder,
// or a folder above it, names none.
struct PrivacyProtectedFolders {
    Paths::Home home;
    std::vector<std::string> desktopFolders;
};
PrivacyProtectedFolders privacyProtectedFolders();

// The path a scan of `root` uses: standardized, symbolic links resolved when
// the folder exists, and "/System/Volumes/Data/Users..." written as "/Users...".
std::string canonicalScanPath(std::string_view root);

// A read-only walk of `root` into a bounded tree, attributing storage to the
// running `owners`. Stops early, with a partial result marked cancelled, when
// `stop` is requested. `threads` folders are read at once (0: one per
// available processor, at most 8); any count gives the same result. Progress
// counts what the walk has found, also beyond a folder it waits for.
// `keepWhileReading` is let go once no call of the walk is left in the file
// system, which may be after the scan has returned (a stop while one hangs).
DiskScanResult scan(std::string_view root, bool includePrivacyProtectedLocations, int hierarchyDepth,
                    int childrenPerFolder, const std::vector<DiskProcessOwner>& owners,
                    const ProgressHandler& onProgress, std::stop_token stop = {}, int threads = 0,
                    std::shared_ptr<const void> keepWhileReading = {});

// The storage a scan with these owners counts for the files at or below
// `path`, a file or a folder: what leaves a scan's owner storage when the
// item is moved away. Read-only; privacy-protected folders are walked.
std::vector<DiskOwnerStorage> ownerStorage(std::string_view path, const std::vector<DiskProcessOwner>& owners);

// How long volumes() waits for the figures of all mounts together.
inline constexpr std::chrono::milliseconds volumeReadLimit{1'500};
// How long a mount that answered slowly before may take to answer again
// before it counts as not responding.
inline constexpr std::chrono::seconds slowVolumeLimit{10};

// Mounted volumes: "/" first, then fixed internal volumes, then the others.
// Each mount is read by a child process (`stat -f`) watched by a thread of
// its own, at most one at a time (see MountFigureCache); the list waits at
// most `limit` for them. A mount that has not answered by then is named as
// not responding, its reader left behind; the answer it gives later is kept
// in `cache`. A mount whose reader, sent by an earlier list, is still out is
// not waited for: it is named as not responding at once. A mount whose last
// answer came late with figures is listed with that answer at once, not
// waited for, while a new reader asks it again (unless that reader has been
// out for slowVolumeLimit).
DiskVolumeList volumes(const std::shared_ptr<MountFigureCache>& cache,
                       std::chrono::milliseconds limit = volumeReadLimit);

}  // namespace DiskScanner

// Whether a mount is a volume a person stores files on (not a pseudo file
// system, a package image or a system-internal place).
bool isUserVolumeMount(const MountEntry& entry);

// Rough estimates while a scan runs; each is absent when it would mislead.
namespace DiskScanEstimate {

std::optional<double> fraction(std::uint64_t measuredBytes, std::optional<std::uint64_t> estimatedTotalBytes);
std::optional<double> remainingSeconds(std::optional<double> progress, double elapsed);
std::optional<std::int64_t> totalFiles(std::int64_t scannedFiles, std::optional<double> progress,
                                       std::optional<std::int64_t> previousTotalFiles);

}  // namespace DiskScanEstimate
}  // namespace corvalent
