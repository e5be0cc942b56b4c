#include "core/disk/disk_insights.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/common/paths.h"
#include "core/common/saturating.h"
#include "core/common/utf8.h"

namespace corvalent {
namespace {

// Never touched, as they are: the folders themselves, not their contents.
constexpr std::array<std::string_view, 26> protectedExactly{
    "/",     "/System", "/Library", "/Users", "/Applications", "/Volumes", "/private", "/bin",  "/sbin",
    "/usr",  "/etc",    "/var",     "/boot",  "/home",         "/root",    "/opt",     "/srv",  "/mnt",
    "/media", "/run",   "/proc",    "/sys",   "/dev",          "/lib",     "/lib64",   "/snap",
};
// The Trash folders are Paths::isInTrash's.
constexpr std::array<std::string_view, 15> homeProtectedExactly{
    "/Library",  "/Library/Caches", "/Library/Logs", "/Desktop", "/Documents",    "/Downloads", "/Movies", "/Music",
    "/Pictures", "/.cache",         "/.config",      "/.local",  "/.local/share", "/Videos",    "",
};
// Never touched, nor anything below them.
constexpr std::array<std::string_view, 16> protectedBelow{
    "/System/", "/bin/", "/sbin/", "/usr/",  "/private/var/db/", "/private/var/root/", "/etc/", "/var/",
    "/boot/",   "/proc/", "/sys/", "/dev/",  "/run/",            "/lib/",             "/lib64/", "/snap/",
};
constexpr std::array<std::string_view, 10> homeProtectedBelow{
    "/Library/Mail/",          "/Library/Messages/",
    "/Library/Safari/",        "/Library/Mobile Documents/",
    "/Library/CloudStorage/",  "/Pictures/Photos Library.photoslibrary/",
    "/.ssh/",                  "/.gnupg/",
    "/.pki/",                  "/.local/share/keyrings/",
};

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool protectedPath(std::string_view path, const Paths::Home& home, const std::vector<std::string>& trashFolders)
{
    for (const auto exact : protectedExactly)
        if (path == exact) return true;
    // A home may lie below /var (/home a link to /var/home): what is in it is
    // judged as in any home, and the rest of /var stays protected.
    const auto inHome = home.within(path);
    const bool judgedAsHome = inHome && home.named() != "/var" && home.real() != "/var";
    for (const auto prefix : protectedBelow)
        if (path.starts_with(prefix) && !(prefix == "/var/" && judgedAsHome)) return true;
    if (inHome) {
        for (const auto suffix : homeProtectedExactly)
            if (*inHome == suffix) return true;
        for (const auto suffix : homeProtectedBelow)
            if (inHome->starts_with(suffix)) return true;
    }
    if (Paths::isInTrash(path, home, trashFolders)) return true;
    // Other people's home folders.
    return (path.starts_with("/Users/") || path.starts_with("/home/")) && !inHome;
}

std::string lastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    const auto name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return name.empty() ? std::string(path) : std::string(name);
}

std::string extensionOf(std::string_view path)
{
    const auto name = lastComponent(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return Paths::lowerCased(name.substr(dot + 1));
}

template <std::size_t N>
bool oneOf(std::string_view value, const std::array<std::string_view, N>& values)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

// Lower-cased letters only: digits, punctuation, blanks and slashes go.
std::string normalizedName(std::string_view text)
{
    const auto lower = QString::fromStdString(Paths::lowerCased(text));
    QString letters;
    letters.reserve(lower.size());
    for (const QChar c : lower)
        if (c.isLetter()) letters.append(c);
    return letters.toStdString();
}

struct Rule {
    DiskCleanupCategory category;
    DiskCleanupSafety safety;
    std::string_view reason;
    std::string_view consequence;
};

Rule rule(std::string_view path, std::string_view lower, std::string_view extension, bool isDirectory,
          bool withOwners, const Paths::Home& home, const std::vector<std::string>& trashFolders)
{
    using C = DiskCleanupCategory;
    using S = DiskCleanupSafety;
    constexpr std::array<std::string_view, 3> databaseExtensions{"db", "sqlite", "sqlite3"};
    constexpr std::array<std::string_view, 8> archiveExtensions{"dmg", "pkg", "zip", "xip", "tar", "gz", "bz2", "xz"};

    const bool database = oneOf(extension, databaseExtensions);
    if (database || protectedPath(path, home, trashFolders)) {
        if (!database && (contains(lower, "cloudstorage") || contains(lower, "mobile documents")))
            return {C::cloud, S::protected_, "This item is managed by a cloud provider and may already be partly online-only.",
                    "Use the provider\u2019s online-only action; deleting it may remove it from every synced device."};
        return {database ? C::database : C::system, S::protected_,
                "Corvalent keeps sensitive, system, and database paths read-only.",
                "Use the owning app or the system\u2019s storage tools instead."};
    }
    const auto inHome = home.within(path);
    if (contains(lower, "/library/caches/") || lower.ends_with("/library/caches") ||
        (inHome && inHome->starts_with("/.cache/"))) {
        if (withOwners)
            return {C::cache, S::review, "A running app may be using this cache.",
                    "Quit the related app before moving this item to Trash."};
        return {C::cache, S::safe, "Re-creatable cache data with no matching app currently running.",
                "The app may rebuild it and briefly run more slowly next time."};
    }
    if (contains(lower, "/library/logs/") || lower.ends_with("/library/logs"))
        return {C::logs, withOwners ? S::review : S::safe,
                withOwners ? "A running app may still be writing this log." : "Diagnostic logs are not required for normal app use.",
                "Removing it erases diagnostic history; an app may create it again."};
    if (contains(lower, "/downloads/") || lower.ends_with("/downloads"))
        return {C::downloads, S::review, "Downloads often contain finished installers and forgotten large files.",
                "Confirm you no longer need the file before moving it to Trash."};
    if (contains(lower, "/coresimulator/") || contains(lower, "simulatorruntime"))
        return {C::developer, S::protected_, "Xcode manages simulator devices and runtimes as registered components.",
                "Remove them through Xcode; deleting backing files directly can leave broken registrations."};
    if (contains(lower, "/deriveddata/") || contains(lower, "/.gradle/caches/") || contains(lower, "/.npm/"))
        return {C::developer, S::review, "Build tools can usually recreate this data.",
                "The next build or simulator launch may be slower or require a download."};
    if (oneOf(extension, archiveExtensions))
        return {C::installer, S::review, "This looks like an installer or archive that may already have been used.",
                "Keep it if you need an offline installer or the archived contents."};
    if (contains(path, ".app/"))
        return {C::application, S::protected_, "This file is inside an application bundle.",
                "Review the whole application instead; moving one internal file can corrupt it."};
    if (path.ends_with(".app"))
        return {C::application, S::review, "This belongs to an installed application.",
                withOwners ? "Quit the related app; moving it may make the application incomplete."
                           : "Moving it may make the application incomplete."};
    if (contains(lower, "/library/containers/") || contains(lower, "/group containers/") ||
        contains(lower, "/orbstack/") || contains(lower, "/docker/") || contains(lower, "/.local/share/containers/"))
        return {C::container, S::protected_, "This may hold application or container state.",
                "Use the owning app\u2019s cleanup command; deleting container state directly can lose data."};
    return {inHome && !inHome->empty() ? C::personal : C::other, S::review,
            isDirectory ? "This folder is large enough to review." : "This is one of the largest measured files.",
            "Open it in the file manager and confirm its contents before moving it to Trash."};
}

struct WorkItem {
    std::string path;
    std::uint64_t bytes;
    bool isDirectory;
    std::optional<DiskScannedItem> scanned;
};

bool isPseudoNode(const DiskNode& node)
{
    return node.id.ends_with(otherFoldersSuffix) || node.id.ends_with(directFilesSuffix);
}

// Large folders of a recognisable kind, breadth first through the top of the tree.
std::vector<WorkItem> actionableDirectories(const DiskNode& root, const Paths::Home& home,
                                           const std::vector<std::string>& trashFolders)
{
    constexpr std::size_t visitLimit = 300;
    constexpr std::size_t childrenPerNode = 20;
    std::vector<WorkItem> items;
    std::deque<const DiskNode*> queue;
    for (const auto& child : root.children) queue.push_back(&child);
    std::size_t visited = 0;
    while (!queue.empty() && visited < visitLimit) {
        const DiskNode* node = queue.front();
        queue.pop_front();
        ++visited;
        // A pseudo-child carries its folder's path: acting on it would hit the whole folder.
        if (node->isDirectory && !isPseudoNode(*node) && node->path && node->bytes > 0) {
            const auto category =
                DiskInsights::classify(*node->path, node->bytes, true, {}, home, trashFolders).category;
            if (category != DiskCleanupCategory::personal && category != DiskCleanupCategory::system &&
                category != DiskCleanupCategory::other)
                items.push_back({*node->path, node->bytes, true, DiskScannedItem::of(*node)});
        }
        const auto count = std::min(node->children.size(), childrenPerNode);
        for (std::size_t i = 0; i < count; ++i) queue.push_back(&node->children[i]);
    }
    return items;
}

void sortSummaries(std::vector<DiskActiveStorageSummary>& summaries)
{
    std::stable_sort(summaries.begin(), summaries.end(),
                     [](const DiskActiveStorageSummary& a, const DiskActiveStorageSummary& b) {
                         if (a.linkedBytes != b.linkedBytes) return a.linkedBytes > b.linkedBytes;
                         return a.name < b.name;
                     });
}

}  // namespace

std::string_view rawValue(DiskCleanupSafety safety)
{
    switch (safety) {
    case DiskCleanupSafety::safe: return "safe";
    case DiskCleanupSafety::review: return "review";
    case DiskCleanupSafety::protected_: return "protected";
    }
    return "protected";
}

std::optional<DiskCleanupSafety> diskCleanupSafetyFromRaw(std::string_view raw)
{
    for (const auto safety : {DiskCleanupSafety::safe, DiskCleanupSafety::review, DiskCleanupSafety::protected_})
        if (rawValue(safety) == raw) return safety;
    return std::nullopt;
}

std::string_view rawValue(DiskCleanupCategory category)
{
    switch (category) {
    case DiskCleanupCategory::cache: return "Cache";
    case DiskCleanupCategory::logs: return "Logs";
    case DiskCleanupCategory::downloads: return "Downloads";
    case DiskCleanupCategory::developer: return "Developer data";
    case DiskCleanupCategory::installer: return "Installer or archive";
    case DiskCleanupCategory::application: return "Application";
    case DiskCleanupCategory::container: return "Container data";
    case DiskCleanupCategory::personal: return "Personal file";
    case DiskCleanupCategory::system: return "System data";
    case DiskCleanupCategory::cloud: return "Cloud-synced";
    case DiskCleanupCategory::database: return "Database";
    case DiskCleanupCategory::other: return "Other";
    }
    return "Other";
}

std::optional<DiskCleanupCategory> diskCleanupCategoryFromRaw(std::string_view raw)
{
    for (int i = 0; i <= static_cast<int>(DiskCleanupCategory::other); ++i) {
        const auto category = static_cast<DiskCleanupCategory>(i);
        if (rawValue(category) == raw) return category;
    }
    return std::nullopt;
}

std::string_view DiskCleanupCandidate::name() const
{
    std::string_view text = path;
    const auto slash = text.rfind('/');
    const auto name = slash == std::string_view::npos ? text : text.substr(slash + 1);
    return name.empty() ? text : name;
}

DiskStorageReconciliation DiskStorageReconciliation::make(const DiskScanResult& result, const DiskVolume* volume)
{
    DiskStorageReconciliation reconciliation;
    reconciliation.isWholeVolume = volume != nullptr && result.root.path &&
                                   Paths::standardized(*result.root.path) == Paths::standardized(volume->url);
    reconciliation.measuredFiles = result.root.bytes;
    if (volume != nullptr) {
        reconciliation.usableSpace = volume->capacity.available;
        reconciliation.immediatelyFree = volume->capacity.immediatelyAvailable;
        reconciliation.reclaimable = flooredDifference(volume->capacity.available, volume->capacity.immediatelyAvailable);
    }
    if (reconciliation.isWholeVolume) {
        const auto occupied = flooredDifference(volume->capacity.total, volume->capacity.immediatelyAvailable);
        reconciliation.occupiedOnDisk = occupied;
        if (reconciliation.measuredFiles > occupied) {
            reconciliation.notMeasured = 0;
            reconciliation.measuredBeyondFilesystemTotal = reconciliation.measuredFiles - occupied;
        } else {
            reconciliation.notMeasured = occupied - reconciliation.measuredFiles;
        }
    }
    reconciliation.inaccessibleEntries = result.inaccessibleEntries;
    reconciliation.privacySkippedLocations = result.privacySkippedLocations;
    reconciliation.cloudPlaceholderCount = result.cloudPlaceholderCount;
    reconciliation.cloudPlaceholderLogicalBytes = result.cloudPlaceholderLogicalBytes;
    return reconciliation;
}

namespace DiskInsights {

DiskCleanupCandidate classify(std::string_view path, std::uint64_t bytes, bool isDirectory,
                              const std::vector<std::string>& activeOwners)
{
    return classify(path, bytes, isDirectory, activeOwners, Paths::Home::current());
}

DiskCleanupCandidate classify(std::string_view path, std::uint64_t bytes, bool isDirectory,
                              const std::vector<std::string>& activeOwners, const Paths::Home& home,
                              const std::vector<std::string>& trashFolders)
{
    DiskCleanupCandidate candidate;
    candidate.path = Paths::standardized(path);
    candidate.bytes = bytes;
    candidate.isDirectory = isDirectory;
    const std::set<std::string> owners(activeOwners.begin(), activeOwners.end());
    candidate.activeOwners.assign(owners.begin(), owners.end());
    const auto decided = rule(candidate.path, Paths::lowerCased(candidate.path), extensionOf(candidate.path), isDirectory,
                              !owners.empty(), home, trashFolders);
    candidate.category = decided.category;
    candidate.safety = decided.safety;
    candidate.reason = decided.reason;
    candidate.consequence = decided.consequence;
    return candidate;
}

std::vector<DiskProcessOwner> matchingOwners(std::string_view path, const std::vector<DiskProcessOwner>& owners)
{
    const auto standard = Paths::standardized(path);
    const auto normalized = normalizedName(standard);
    std::vector<DiskProcessOwner> matched;
    for (const auto& owner : owners) {
        bool matches = false;
        if (owner.appPath) {
            const auto app = Paths::standardized(*owner.appPath);
            auto base = lastComponent(app);
            if (const auto dot = base.rfind('.'); dot != std::string::npos && dot > 0) base.resize(dot);
            const auto baseName = normalizedName(base);
            matches = Paths::isAtOrBelow(standard, app) ||
                      (QString::fromStdString(base).size() >= 4 && !baseName.empty() && contains(normalized, baseName));
        }
        for (std::size_t i = 0; !matches && i < owner.workingDirectories.size(); ++i) {
            const auto folder = Paths::standardized(owner.workingDirectories[i]);
            matches = Paths::isAtOrBelow(standard, folder) || Paths::isBelow(folder, standard);
        }
        if (matches) matched.push_back(owner);
    }
    return matched;
}

std::vector<DiskCleanupCandidate> candidates(const DiskScanResult& result, const std::vector<DiskProcessOwner>& owners,
                                             int limit)
{
    if (limit < 1) return {};
    const auto home = Paths::Home::current();
    std::vector<WorkItem> items;
    // A name that is not text is listed for showing and revealing only, never offered.
    for (const auto& file : result.largestFiles)
        if (isValidUtf8(file.path)) items.push_back({file.path, file.bytes, false, DiskScannedItem::of(file)});
    auto folders = actionableDirectories(result.root, home, result.trashFolders);
    items.insert(items.end(), std::make_move_iterator(folders.begin()), std::make_move_iterator(folders.end()));
    std::stable_sort(items.begin(), items.end(), [](const WorkItem& a, const WorkItem& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.path < b.path;
    });

    std::unordered_set<std::string> seen;
    std::vector<std::string> acceptedFolders;
    std::vector<DiskCleanupCandidate> list;
    for (const auto& item : items) {
        auto path = Paths::standardized(item.path);
        if (!seen.insert(path).second) continue;
        if (std::any_of(acceptedFolders.begin(), acceptedFolders.end(),
                        [&](const std::string& folder) { return Paths::isBelow(path, folder); }))
            continue;
        std::vector<std::string> names;
        for (const auto& owner : matchingOwners(path, owners)) names.push_back(owner.name);
        list.push_back(classify(path, item.bytes, item.isDirectory, names, home, result.trashFolders));
        list.back().scanned = item.scanned;
        if (item.isDirectory) acceptedFolders.push_back(std::move(path));
    }
    std::stable_sort(list.begin(), list.end(), [](const DiskCleanupCandidate& a, const DiskCleanupCandidate& b) {
        if (a.safety != b.safety) return a.safety < b.safety;
        if (a.bytes != b.bytes) return a.bytes > b.bytes;
        return a.path < b.path;
    });
    if (list.size() > static_cast<std::size_t>(limit)) list.resize(static_cast<std::size_t>(limit));
    return list;
}

DiskRescuePlan rescuePlan(const DiskCapacity& capacity, const std::vector<DiskCleanupCandidate>& candidates)
{
    DiskRescuePlan plan;
    const auto total = capacity.total;
    const auto available = capacity.available;
    const double share = total == 0 ? 0.0 : static_cast<double>(available) / static_cast<double>(total);
    plan.urgency = total == 0 || share < 0.1 ? DiskRescueUrgency::critical
                   : share < 0.2             ? DiskRescueUrgency::tight
                                             : DiskRescueUrgency::comfortable;
    auto target = static_cast<std::uint64_t>(std::round(static_cast<double>(total) * 0.15));
    target = std::max<std::uint64_t>(target, 25'000'000'000ULL);
    target = std::min(target, total);
    target = std::min<std::uint64_t>(target, 100'000'000'000ULL);
    plan.targetAvailable = target;
    plan.bytesToTarget = flooredDifference(target, available);

    // What already lies in a Trash frees nothing when moved there again.
    const auto home = Paths::Home::current();
    for (const auto& candidate : candidates) {
        if (Paths::isInTrash(candidate.path, home)) continue;
        if (candidate.safety == DiskCleanupSafety::safe) plan.lowRiskBytes = saturatingAdd(plan.lowRiskBytes, candidate.bytes);
        if (candidate.safety == DiskCleanupSafety::review) plan.reviewBytes = saturatingAdd(plan.reviewBytes, candidate.bytes);
    }
    plan.projectedAvailableAfterLowRisk = std::min(saturatingAdd(available, plan.lowRiskBytes), total);
    return plan;
}

std::vector<DiskActiveStorageSummary> activeStorageSummaries(const std::vector<DiskOwnerStorage>& storage,
                                                             const std::vector<DiskCleanupCandidate>& candidates,
                                                             const std::vector<DiskProcessOwner>& owners)
{
    if (storage.empty()) return activeStorageSummaries(candidates, owners);
    std::unordered_map<std::string, const DiskProcessOwner*> byID;
    for (const auto& owner : owners) byID.try_emplace(owner.id, &owner);
    std::vector<DiskActiveStorageSummary> summaries;
    for (const auto& entry : storage) {
        const auto found = byID.find(entry.id);
        if (found == byID.end()) continue;
        const auto& owner = *found->second;
        DiskActiveStorageSummary summary{owner.id, owner.name, owner.memory, owner.cpu, entry.bytes(), entry.fileCount(),
                                         0, entry.segments};
        for (const auto& segment : entry.segments)
            if (segment.kind == DiskOwnerStorageKind::container)
                summary.protectedBytes = saturatingAdd(summary.protectedBytes, segment.bytes);
        summaries.push_back(std::move(summary));
    }
    sortSummaries(summaries);
    return summaries;
}

std::vector<DiskActiveStorageSummary> activeStorageSummaries(const std::vector<DiskCleanupCandidate>& candidates,
                                                             const std::vector<DiskProcessOwner>& owners)
{
    std::vector<DiskActiveStorageSummary> summaries;
    for (const auto& owner : owners) {
        DiskActiveStorageSummary summary{owner.id, owner.name, owner.memory, owner.cpu, 0, 0, 0, {}};
        for (const auto& candidate : candidates) {
            if (std::find(candidate.activeOwners.begin(), candidate.activeOwners.end(), owner.name) ==
                candidate.activeOwners.end())
                continue;
            summary.linkedBytes = saturatingAdd(summary.linkedBytes, candidate.bytes);
            summary.linkedItems = saturatingAdd(summary.linkedItems, std::int64_t{1});
            if (candidate.safety == DiskCleanupSafety::protected_)
                summary.protectedBytes = saturatingAdd(summary.protectedBytes, candidate.bytes);
        }
        if (summary.linkedItems > 0) summaries.push_back(std::move(summary));
    }
    sortSummaries(summaries);
    return summaries;
}

}  // namespace DiskInsights
}  // namespace corvalent
