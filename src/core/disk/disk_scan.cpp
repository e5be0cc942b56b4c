// One read-only walk of a folder or volume, folded into a bounded tree of
// folders with the largest files and possible duplicates beside it.

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bridge/disk_walk.h"
#include "bridge/process_bridge.h"
#include "core/disk/disk.h"
#include "core/common/paths.h"
#include "core/common/saturating.h"
#include "core/common/text_order.h"
#include "core/common/uptime.h"
#include "core/common/utf8.h"

namespace corvalent {
namespace {

constexpr int maximumWalkThreads = 8;
constexpr std::string_view dataVolumeUsers = "/System/Volumes/Data/Users";
constexpr std::size_t dataVolumePrefixLength = std::string_view("/System/Volumes/Data").size();

// Paths below the data volume's Users folder are written below "/Users".
std::string_view mappedPath(std::string_view path)
{
    if (Paths::isAtOrBelow(path, dataVolumeUsers)) path.remove_prefix(dataVolumePrefixLength);
    return path;
}

struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

// One folder while the scan runs. Folders get nodes down to a depth and
// within a budget shared by the whole scan; what lies deeper stays in the
// deepest folder that has one.
struct NodeAccumulator {
    std::string name;
    std::string path;
    std::uint64_t bytes = 0;
    std::int64_t fileCount = 0;
    std::uint64_t device = 0;  // the folder's own, as the walk met it
    std::uint64_t inode = 0;
    std::unordered_map<std::string, std::unique_ptr<NodeAccumulator>, NameHash, std::equal_to<>> children;

    NodeAccumulator* child(std::string_view component, int& budget)
    {
        const auto found = children.find(component);
        if (found != children.end()) return found->second.get();
        if (budget < 1) return nullptr;
        --budget;
        auto created = std::make_unique<NodeAccumulator>();
        created->name = std::string(component);
        created->path = (path == "/" ? "" : path) + "/" + created->name;
        auto* raw = created.get();
        children.emplace(created->name, std::move(created));
        return raw;
    }

    // The node of this folder. Each subtree's accumulators are given up as
    // soon as its nodes are made, so the two never both hold the whole tree.
    DiskNode takeNode(int childrenLimit)
    {
        std::vector<NodeAccumulator*> sorted;
        sorted.reserve(children.size());
        for (const auto& [childName, accumulator] : children) sorted.push_back(accumulator.get());
        const auto shown = std::min(sorted.size(), static_cast<std::size_t>(std::max(childrenLimit, 0)));
        std::partial_sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(shown), sorted.end(),
                          [](const NodeAccumulator* a, const NodeAccumulator* b) {
                              if (a->bytes != b->bytes) return a->bytes > b->bytes;
                              return localizedStandardLess(a->name, b->name);
                          });

        DiskNode node{path, name, path, bytes, fileCount, true, {}, device, inode};
        node.children.reserve(shown + 2);
        std::uint64_t allBytes = 0;
        std::int64_t allFiles = 0;
        std::uint64_t restBytes = 0;
        std::int64_t restFiles = 0;
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            allBytes = saturatingAdd(allBytes, sorted[i]->bytes);
            allFiles = saturatingAdd(allFiles, sorted[i]->fileCount);
            if (i < shown) {
                node.children.push_back(sorted[i]->takeNode(childrenLimit));
            } else {
                restBytes = saturatingAdd(restBytes, sorted[i]->bytes);
                restFiles = saturatingAdd(restFiles, sorted[i]->fileCount);
            }
        }
        sorted.clear();
        children.clear();
        if (restBytes > 0)
            node.children.push_back(DiskNode{path + std::string(otherFoldersSuffix), "Other folders", std::nullopt,
                                             restBytes, restFiles, false, {}});
        if (bytes > allBytes)
            node.children.push_back(DiskNode{path + std::string(directFilesSuffix), "Files in this folder", path,
                                             flooredDifference(bytes, allBytes),
                                             fileCount > allFiles ? fileCount - allFiles : 0, false, {}});
        return node;
    }
};

struct FileAllocationID {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const FileAllocationID&) const = default;
};

struct FileAllocationHash {
    std::size_t operator()(const FileAllocationID& id) const noexcept
    {
        return std::hash<std::uint64_t>{}(id.device * 0x9E3779B97F4A7C15ULL ^ id.inode);
    }
};

// Full paths of what the walk visits, rebuilt from names and depths: the
// folders the walk is in as one string, and where each one's path ends, so
// memory grows with the depth, not with its square.
struct WalkPaths {
    std::string chain;                   // the folders' path, then the current file's name
    std::vector<std::size_t> ends;       // where each folder's path ends in `chain`, by depth
    std::vector<char> foldersUtf8;       // whether each of those paths is valid UTF-8
    std::vector<std::uint64_t> folders;  // which folder, by depth: a number each folder visit draws
    std::vector<FileAllocationID> identities;  // each folder's device and inode, by depth
    std::uint64_t folderCount = 0;
    std::uint64_t fileFolder = 0;        // the folder that holds the file last followed
    bool fileUtf8 = false;               // whether that file's path is valid UTF-8

    // The path of a readable file, valid until the next visit; nothing for
    // anything else.
    std::optional<std::string_view> follow(const PLDiskEntry& entry)
    {
        const bool readableFile = entry.kind == PLDiskEntryKind::file && entry.error == 0;
        if (entry.depth == 0) {
            chain.assign(entry.name);
            ends.assign(1, chain == "/" ? 0 : chain.size());
            foldersUtf8.assign(1, isValidUtf8(entry.name));
            folders.assign(1, folderCount++);
            identities.assign(1, entry.kind == PLDiskEntryKind::folder ? FileAllocationID{entry.device, entry.inode}
                                                                       : FileAllocationID{0, 0});
            fileFolder = folders[0];
            fileUtf8 = foldersUtf8[0];
            return readableFile ? std::optional<std::string_view>(entry.name) : std::nullopt;
        }
        const auto depth = entry.depth;
        chain.resize(ends[depth - 1]);
        if (entry.kind == PLDiskEntryKind::folder) {
            chain.append("/").append(entry.name);
            ends.resize(depth + 1);
            ends[depth] = chain.size();
            foldersUtf8.resize(depth + 1);
            foldersUtf8[depth] = foldersUtf8[depth - 1] && isValidUtf8(entry.name);
            folders.resize(depth + 1);
            folders[depth] = folderCount++;
            identities.resize(depth + 1);
            identities[depth] = {entry.device, entry.inode};
            return std::nullopt;
        }
        if (!readableFile) return std::nullopt;
        chain.append("/").append(entry.name);
        fileFolder = folders[depth - 1];
        fileUtf8 = foldersUtf8[depth - 1] && isValidUtf8(entry.name);
        return std::string_view(chain);
    }
};

// Everything one scan gathers from the walk's visits.
struct DiskScanContext final : PLDiskVisitor {
    std::string rootPath;
    std::string rootPrefix;  // rootPath with a trailing "/"
    int hierarchyDepth = 0;
    NodeAccumulator root;
    int budget = DiskScanner::defaultMapNodeLimit;
    const DiskScanner::ProgressHandler* onProgress = nullptr;
    std::stop_token stop;
    LargestFileCollector largestFiles{40};
    PotentialDuplicateCollector duplicates;
    std::optional<DiskOwnershipAccumulator> ownership;
    std::unordered_set<FileAllocationID, FileAllocationHash> seenHardLinks;
    std::optional<Paths::Home> home;
    std::vector<std::string> trashFolders;
    bool cancelled = false;
    std::int64_t unmappedEntries = 0;
    std::int64_t cloudPlaceholderCount = 0;
    std::uint64_t cloudPlaceholderLogicalBytes = 0;
    std::int64_t scannedFiles = 0;
    double lastProgressUptime = 0;

    // Files of one folder arrive together: the chain of accumulators for the
    // last folder is kept so that its siblings need no lookups.
    std::uint64_t lastFolder = 0;
    std::vector<NodeAccumulator*> lastChain;
    bool hasLastChain = false;

    // With what the walk's readers found beyond the visits (`ahead`).
    void emitProgress(std::uint64_t entries, bool force, const PLDiskAhead& ahead = {})
    {
        if (onProgress == nullptr || !*onProgress) return;
        const double now = uptimeSeconds();
        if (!force && now - lastProgressUptime < 0.1) return;
        lastProgressUptime = now;
        (*onProgress)(DiskScanProgress{cappedCount(saturatingAdd(entries, ahead.entries)),
                                       saturatingAdd(scannedFiles, cappedCount(ahead.files)),
                                       saturatingAdd(root.bytes, ahead.allocatedBytes)});
    }

    // The folders that hold a file in `folder` (relative to the root; the
    // walk's folder number `id`), root first. Components that are not valid
    // UTF-8 end the chain: their bytes stay with the nearest folder that can
    // be named.
    const std::vector<NodeAccumulator*>& chainFor(std::uint64_t id, std::string_view folder)
    {
        if (hasLastChain && id == lastFolder) return lastChain;
        lastFolder = id;
        hasLastChain = true;
        lastChain.assign(1, &root);
        NodeAccumulator* current = &root;
        // The chain follows the walk's folders down from the root, one per depth.
        const auto describe = [this](NodeAccumulator& node) {
            const auto depth = lastChain.size() - 1;
            if (node.inode != 0 || depth >= paths.identities.size()) return;
            node.device = paths.identities[depth].device;
            node.inode = paths.identities[depth].inode;
        };
        describe(root);
        int depth = hierarchyDepth;
        while (!folder.empty() && depth >= 1) {
            const auto slash = folder.find('/');
            const auto component = folder.substr(0, slash);
            folder.remove_prefix(slash == std::string_view::npos ? folder.size() : slash + 1);
            if (component.empty()) continue;
            if (!isValidUtf8(component)) break;
            current = current->child(component, budget);
            if (current == nullptr) break;
            lastChain.push_back(current);
            describe(*current);
            --depth;
        }
        return lastChain;
    }

    WalkPaths paths;

    bool visit(const PLDiskEntry& entry) override
    {
        if (stop.stop_requested()) {
            cancelled = true;
            return false;
        }
        if (const auto path = paths.follow(entry))
            addFile(*path, paths.fileUtf8, entry.allocatedBytes, entry.logicalBytes, entry.device, entry.inode,
                    entry.links, entry.dataless, {entry.modifiedSeconds, entry.modifiedNanoseconds});
        else if (entry.kind == PLDiskEntryKind::folder)
            noteTrash(entry);
        return true;
    }

    // A folder that is the home Trash, or its files folder, under a name the
    // Trash's layout does not tell (a bind mount): what lies below it is in
    // the Trash. The walk has already described the folder, so this costs a
    // comparison per folder; `paths.chain` names it now.
    void noteTrash(const PLDiskEntry& entry)
    {
        if ((entry.device == 0 && entry.inode == 0) || !home->isTrash(entry.device, entry.inode)) return;
        if (trashFolders.size() >= DiskScanResult::maxTrashFolders) return;
        auto path = std::string(mappedPath(paths.chain));
        if (!Paths::isInTrash(path, *home, trashFolders)) trashFolders.push_back(std::move(path));
    }

    bool tick(std::uint64_t entries, const PLDiskAhead& ahead) override
    {
        if (stop.stop_requested()) {
            cancelled = true;
            return false;
        }
        emitProgress(entries, false, ahead);
        return true;
    }

    bool waiting(std::uint64_t entries, const PLDiskAhead& ahead) override { return tick(entries, ahead); }

    void addFile(std::string_view path, bool nameable, std::uint64_t allocated, std::uint64_t logical,
                 std::uint64_t device, std::uint64_t inode, std::uint32_t links, bool dataless,
                 DiskFileTime modified)
    {
        path = mappedPath(path);
        if (links >= 2 && device != 0 && inode != 0 && !seenHardLinks.insert({device, inode}).second) allocated = 0;
        scannedFiles = saturatingAdd(scannedFiles, std::int64_t{1});

        // A path that is not valid UTF-8 (not `nameable`) is never offered
        // for an action: it is listed among the largest files, to be shown
        // and revealed only.
        if (dataless) {
            cloudPlaceholderCount = saturatingAdd(cloudPlaceholderCount, std::int64_t{1});
            cloudPlaceholderLogicalBytes = saturatingAdd(cloudPlaceholderLogicalBytes, logical);
        } else if (nameable && duplicates.admits(logical)) {
            duplicates.consider(DiskFile{std::string(path), allocated, logical, device, inode, false, modified});
        }

        if (!path.starts_with(rootPrefix)) {
            unmappedEntries = saturatingAdd(unmappedEntries, std::int64_t{1});
            return;
        }
        const auto relative = path.substr(rootPrefix.size());
        const auto slash = relative.rfind('/');
        const auto folder = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
        for (auto* accumulator : chainFor(paths.fileFolder, folder)) {
            accumulator->bytes = saturatingAdd(accumulator->bytes, allocated);
            accumulator->fileCount = saturatingAdd(accumulator->fileCount, std::int64_t{1});
        }
        ownership->record(path, allocated);
        if (largestFiles.admits(allocated))
            largestFiles.consider(DiskFile{std::string(path), allocated, logical, device, inode, dataless, modified});
    }
};

// The owner storage of one item: each file counted as a scan counts it.
struct OwnerStorageWalk final : PLDiskVisitor {
    DiskOwnershipAccumulator ownership;
    std::unordered_set<FileAllocationID, FileAllocationHash> seenHardLinks;
    WalkPaths paths;

    explicit OwnerStorageWalk(DiskOwnershipAccumulator accumulator) : ownership(std::move(accumulator)) {}

    bool visit(const PLDiskEntry& entry) override
    {
        const auto path = paths.follow(entry);
        if (!path) return true;
        auto allocated = entry.allocatedBytes;
        if (entry.links >= 2 && entry.device != 0 && entry.inode != 0 &&
            !seenHardLinks.insert({entry.device, entry.inode}).second)
            allocated = 0;
        ownership.record(mappedPath(*path), allocated);
        return true;
    }
};

}  // namespace

namespace DiskScanner {

PrivacyProtectedFolders privacyProtectedFolders()
{
    PrivacyProtectedFolders folders{Paths::Home::current(), {}};
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation}) {
        const auto text = QStandardPaths::writableLocation(location);
        if (text.isEmpty()) continue;
        auto path = Paths::standardized(QFile::encodeName(text).toStdString());
        if (!folders.home.isAtOrBelow(path)) folders.desktopFolders.push_back(std::move(path));
    }
    return folders;
}

std::string canonicalScanPath(std::string_view root)
{
    auto path = Paths::standardized(root);
    // A link to a folder scans the folder it names.
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    return std::string(mappedPath(path));
}

DiskScanResult scan(std::string_view root, bool includePrivacyProtectedLocations, int hierarchyDepth,
                    int childrenPerFolder, const std::vector<DiskProcessOwner>& owners,
                    const ProgressHandler& onProgress, std::stop_token stop, int threads,
                    std::shared_ptr<const void> keepWhileReading)
{
    const double start = uptimeSeconds();
    DiskScanContext context;
    context.rootPath = canonicalScanPath(root);
    context.rootPrefix = context.rootPath == "/" ? "/" : context.rootPath + "/";
    context.hierarchyDepth = hierarchyDepth;
    context.onProgress = &onProgress;
    context.stop = std::move(stop);
    context.home.emplace(Paths::Home::current());
    context.ownership.emplace(owners, context.home->real());
    context.root.path = context.rootPath;
    const auto slash = context.rootPath.rfind('/');
    context.root.name = context.rootPath.substr(slash + 1);
    if (context.root.name.empty()) context.root.name = context.rootPath;

    PLDiskScanStats stats{};
    PLDiskWalkOptions options;
    options.skipPrivacy = !includePrivacyProtectedLocations;
    if (options.skipPrivacy) {
        // The walk meets every folder where it really is; the desktop's
        // folders are never resolved, as one may lie on a share that does not answer.
        const auto folders = privacyProtectedFolders();
        options.privacy.home = folders.home.real();
        for (const auto& folder : folders.desktopFolders)
            options.privacy.desktopFolders.push_back(folders.home.realSpelling(folder));
    }
    options.threads = threads > 0 ? threads : std::min(pl_available_processors(), maximumWalkThreads);
    options.stop = context.stop;
    options.keepWhileReading = std::move(keepWhileReading);
    const auto code = pl_walk_disk(context.rootPath.c_str(), options, context, stats);
    context.emitProgress(stats.entries, true);

    DiskScanResult result;
    result.root = context.root.takeNode(childrenPerFolder);
    result.largestFiles = context.largestFiles.descending();
    result.scannedEntries = cappedCount(stats.entries);
    result.inaccessibleEntries = saturatingAdd(saturatingAdd(cappedCount(stats.inaccessible), context.unmappedEntries),
                                               std::int64_t{code != 0 ? 1 : 0});
    result.privacySkippedLocations = cappedCount(stats.privacySkipped);
    result.cloudPlaceholderCount = context.cloudPlaceholderCount;
    result.cloudPlaceholderLogicalBytes = context.cloudPlaceholderLogicalBytes;
    result.potentialDuplicateGroups = context.duplicates.groups([&context](const DiskFile& file) {
        return Paths::isInTrash(file.path, *context.home, context.trashFolders);
    });
    result.trashFolders = std::move(context.trashFolders);
    result.ownerStorage = context.ownership->results();
    result.cancelled = stats.cancelled != 0 || context.cancelled;
    result.duration = uptimeSeconds() - start;
    return result;
}

std::vector<DiskOwnerStorage> ownerStorage(std::string_view path, const std::vector<DiskProcessOwner>& owners)
{
    if (owners.empty()) return {};
    OwnerStorageWalk walk(DiskOwnershipAccumulator(owners, Paths::Home::current().real()));
    PLDiskScanStats stats{};
    pl_walk_disk(canonicalScanPath(path).c_str(), {}, walk, stats);
    return walk.ownership.results();
}

}  // namespace DiskScanner
}  // namespace corvalent
