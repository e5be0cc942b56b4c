#include "core/disk/disk_ownership.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <sys/stat.h>

#include "core/common/paths.h"
#include "core/common/saturating.h"

namespace corvalent {
namespace {

struct FolderRule {
    std::string_view before;  // joined to the home folder, then the name
    std::string_view after;   // appended to the name
    DiskOwnerStorageKind kind;
};

// Where an application keeps its own data in the home folder.
constexpr std::array<FolderRule, 8> libraryFolders{{
    {"/Library/Caches/", "", DiskOwnerStorageKind::cache},
    {"/Library/HTTPStorages/", "", DiskOwnerStorageKind::cache},
    {"/Library/Logs/", "", DiskOwnerStorageKind::logs},
    {"/Library/Application Support/", "", DiskOwnerStorageKind::support},
    {"/Library/WebKit/", "", DiskOwnerStorageKind::support},
    {"/Library/Containers/", "", DiskOwnerStorageKind::container},
    {"/Library/Saved Application State/", ".savedState", DiskOwnerStorageKind::support},
    {"/Library/Preferences/", ".plist", DiskOwnerStorageKind::support},
}};

// The same places as Linux programs use them (XDG folders, Flatpak, Snap).
constexpr std::array<FolderRule, 6> xdgFolders{{
    {"/.cache/", "", DiskOwnerStorageKind::cache},
    {"/.config/", "", DiskOwnerStorageKind::support},
    {"/.local/share/", "", DiskOwnerStorageKind::support},
    {"/.local/state/", "", DiskOwnerStorageKind::logs},
    {"/.var/app/", "", DiskOwnerStorageKind::container},
    {"/snap/", "", DiskOwnerStorageKind::container},
}};

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Names are joined into paths: one that could climb out of its folder, or
// name the folder itself, would let a process claim what is not its own.
bool usableName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string asciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::string withoutExtension(std::string_view name)
{
    const auto dot = name.rfind('.');
    return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

// CFBundleIdentifier of an application bundle's XML property list, if any.
std::optional<std::string> bundleIdentifier(const std::string& appPath)
{
    QFile file(QString::fromStdString(appPath + "/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QXmlStreamReader xml(&file);
    int depth = 0;
    bool identifierKeyNext = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            // <plist><dict><key>: keys of the top dictionary sit at depth 3.
            if (depth == 3 && xml.name() == u"key") {
                identifierKeyNext = xml.readElementText() == u"CFBundleIdentifier";
                --depth;
            } else if (depth == 3 && identifierKeyNext) {
                if (xml.name() != u"string") return std::nullopt;
                const auto value = xml.readElementText().toStdString();
                return value.empty() ? std::nullopt : std::optional(value);
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return std::nullopt;
}

// Segments by bytes descending, then title; owners by bytes descending, then name.
void sortStorage(std::vector<DiskOwnerStorage>& storage)
{
    for (auto& entry : storage)
        std::sort(entry.segments.begin(), entry.segments.end(),
                  [](const DiskOwnerStorageSegment& a, const DiskOwnerStorageSegment& b) {
                      if (a.bytes != b.bytes) return a.bytes > b.bytes;
                      return rawValue(a.kind) < rawValue(b.kind);
                  });
    std::sort(storage.begin(), storage.end(), [](const DiskOwnerStorage& a, const DiskOwnerStorage& b) {
        const auto bytesA = a.bytes();
        const auto bytesB = b.bytes();
        if (bytesA != bytesB) return bytesA > bytesB;
        return a.name < b.name;
    });
}

std::string_view parentOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace

std::string_view rawValue(DiskOwnerStorageKind kind)
{
    switch (kind) {
    case DiskOwnerStorageKind::application: return "App";
    case DiskOwnerStorageKind::cache: return "Caches";
    case DiskOwnerStorageKind::logs: return "Logs";
    case DiskOwnerStorageKind::support: return "Support";
    case DiskOwnerStorageKind::project: return "Projects";
    case DiskOwnerStorageKind::container: return "Containers";
    }
    return "App";
}

std::optional<DiskOwnerStorageKind> diskOwnerStorageKindFromRaw(std::string_view raw)
{
    for (const auto kind : allDiskOwnerStorageKinds)
        if (rawValue(kind) == raw) return kind;
    return std::nullopt;
}

std::uint64_t DiskOwnerStorage::bytes() const
{
    std::uint64_t total = 0;
    for (const auto& segment : segments) total = saturatingAdd(total, segment.bytes);
    return total;
}

std::int64_t DiskOwnerStorage::fileCount() const
{
    std::int64_t total = 0;
    for (const auto& segment : segments) total = saturatingAdd(total, segment.fileCount);
    return total;
}

DiskOwnershipAccumulator::DiskOwnershipAccumulator(const std::vector<DiskProcessOwner>& owners, const std::string& home)
{
    if (owners.empty()) return;
    const auto homePath = Paths::standardized(home);
    for (const auto& owner : owners) {
        const auto link = [&](DiskOwnerStorageKind kind) { return Link{owner.id, owner.name, kind}; };
        if (owner.appPath) add(Paths::standardized(*owner.appPath), link(DiskOwnerStorageKind::application));
        for (const auto& folder : owner.workingDirectories)
            add(Paths::standardized(folder), link(DiskOwnerStorageKind::project));

        std::set<std::string> names{owner.name};
        if (owner.appPath) {
            const auto app = Paths::standardized(*owner.appPath);
            names.insert(withoutExtension(app.substr(app.rfind('/') + 1)));
            if (auto identifier = bundleIdentifier(app)) names.insert(*identifier);
        }
        for (const auto& name : names) {
            if (!usableName(name)) continue;
            for (const auto& rule : libraryFolders) {
                const auto path =
                    Paths::standardized(homePath + std::string(rule.before) + name + std::string(rule.after));
                if (exists(path)) add(path, link(rule.kind));
            }
            for (const auto& variant : std::set<std::string>{name, asciiLower(name)}) {
                for (const auto& rule : xdgFolders) {
                    const auto path = Paths::standardized(homePath + std::string(rule.before) + variant);
                    if (exists(path)) add(path, link(rule.kind));
                }
            }
        }
    }
}

void DiskOwnershipAccumulator::add(const std::string& path, Link link)
{
    if (path.size() >= prefixLengths_.size()) prefixLengths_.resize(path.size() + 1);
    prefixLengths_[path.size()] = true;
    auto& links = prefixes_[path];
    if (std::find(links.begin(), links.end(), link) == links.end()) links.push_back(std::move(link));
}

std::vector<DiskOwnershipAccumulator::Link> DiskOwnershipAccumulator::deduplicated(const std::vector<Link>& links)
{
    std::vector<Link> kept;
    for (const auto& link : links) {
        if (std::none_of(kept.begin(), kept.end(), [&](const Link& k) { return k.ownerID == link.ownerID; }))
            kept.push_back(link);
    }
    return kept;
}

const std::vector<DiskOwnershipAccumulator::SegmentValue*>& DiskOwnershipAccumulator::segmentsOf(
    std::string_view path)
{
    // Only a path as long as some owner's path can be one.
    if (path.size() < prefixLengths_.size() && prefixLengths_[path.size()]) {
        if (const auto exact = prefixes_.find(path); exact != prefixes_.end()) {
            exactSegments_ = segmentsFor(deduplicated(exact->second));
            return exactSegments_;
        }
    }
    // Files of one folder mostly arrive together.
    const auto parent = parentOf(path);
    if (hasLastFolder_ && parent == lastFolder_) return lastFolderSegments_;
    lastFolder_.assign(parent);
    hasLastFolder_ = true;
    lastFolderSegments_ = segmentsFor(linksOfFolder(parent));
    return lastFolderSegments_;
}

// The totals the links count into, made on first use; their addresses stay
// valid (the maps hold nodes).
std::vector<DiskOwnershipAccumulator::SegmentValue*> DiskOwnershipAccumulator::segmentsFor(
    const std::vector<Link>& links)
{
    std::vector<SegmentValue*> segments;
    segments.reserve(links.size());
    for (const auto& link : links) {
        auto [entry, created] = values_.try_emplace(link.ownerID);
        if (created) entry->second.name = link.ownerName;
        segments.push_back(&entry->second.segments[link.kind]);
    }
    return segments;
}

std::vector<DiskOwnershipAccumulator::Link> DiskOwnershipAccumulator::linksOfFolder(std::string_view parent)
{
    if (const auto cached = directoryCache_.find(parent); cached != directoryCache_.end()) return cached->second;

    // Nearest linked folder first; the root "/" itself is never a key.
    std::vector<Link> collected;
    std::string_view folder = parent;
    while (!folder.empty()) {
        if (const auto found = prefixes_.find(folder); found != prefixes_.end())
            collected.insert(collected.end(), found->second.begin(), found->second.end());
        const auto slash = folder.rfind('/');
        if (slash == std::string_view::npos || slash == 0) break;
        folder = folder.substr(0, slash);
    }
    auto result = deduplicated(collected);
    if (directoryCache_.size() < cacheLimit) directoryCache_.emplace(std::string(parent), result);
    return result;
}

void DiskOwnershipAccumulator::record(std::string_view path, std::uint64_t bytes)
{
    if (prefixes_.empty()) return;
    for (auto* segment : segmentsOf(path)) {
        segment->bytes = saturatingAdd(segment->bytes, bytes);
        segment->files = saturatingAdd(segment->files, std::int64_t{1});
    }
}

std::vector<DiskOwnerStorage> DiskOwnershipAccumulator::results() const
{
    std::vector<DiskOwnerStorage> storage;
    storage.reserve(values_.size());
    for (const auto& [id, value] : values_) {
        DiskOwnerStorage entry{id, value.name, {}};
        for (const auto& [kind, segment] : value.segments)
            entry.segments.push_back(DiskOwnerStorageSegment{kind, segment.bytes, segment.files});
        storage.push_back(std::move(entry));
    }
    sortStorage(storage);
    return storage;
}

std::vector<DiskOwnerStorage> remainingStorage(const std::vector<DiskOwnerStorage>& storage,
                                               const std::vector<DiskOwnerStorage>& removed)
{
    std::map<std::pair<std::string, DiskOwnerStorageKind>, DiskOwnerStorageSegment> gone;
    for (const auto& entry : removed) {
        for (const auto& segment : entry.segments) {
            auto& total = gone[{entry.id, segment.kind}];
            total.bytes = saturatingAdd(total.bytes, segment.bytes);
            total.fileCount = saturatingAdd(total.fileCount, segment.fileCount);
        }
    }
    std::vector<DiskOwnerStorage> left;
    for (const auto& entry : storage) {
        DiskOwnerStorage kept{entry.id, entry.name, {}};
        for (auto segment : entry.segments) {
            if (const auto found = gone.find({entry.id, segment.kind}); found != gone.end()) {
                segment.bytes = flooredDifference(segment.bytes, found->second.bytes);
                segment.fileCount = std::max<std::int64_t>(segment.fileCount - found->second.fileCount, 0);
            }
            if (segment.fileCount > 0) kept.segments.push_back(segment);
        }
        if (!kept.segments.empty()) left.push_back(std::move(kept));
    }
    sortStorage(left);
    return left;
}

}  // namespace corvalent
