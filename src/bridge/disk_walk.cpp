#include "bridge/disk_walk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bridge/process_bridge.h"

namespace corvalent {
namespace {

constexpr std::array<std::string_view, 9> privacyProtectedSuffixes{
    "/Desktop",          "/Documents",       "/Downloads",
    "/Library/CloudStorage", "/Library/Mail", "/Library/Messages",
    "/Library/Mobile Documents", "/Library/Safari", "/Pictures/Photos Library.photoslibrary",
};

constexpr std::uint64_t tickMask = 2'048 - 1;
constexpr int maximumThreads = 8;
// Entries read ahead of the visitor. Beyond this, readers wait and the caller
// reads the folder it needs next itself, so memory stays bounded whatever the
// tree's shape.
constexpr std::size_t readAheadEntries = 128 * 1'024;
constexpr std::size_t listingBufferBytes = 64 * 1'024;

void increment(std::uint64_t& counter)
{
    if (counter != std::numeric_limits<std::uint64_t>::max()) ++counter;
}

std::uint64_t allocatedBytes(const struct stat& info)
{
    if (info.st_blocks <= 0) return 0;
    const auto blocks = static_cast<std::uint64_t>(info.st_blocks);
    constexpr auto maxBlocks = std::numeric_limits<std::uint64_t>::max() / 512;
    return blocks > maxBlocks ? std::numeric_limits<std::uint64_t>::max() : blocks * 512;
}

PLDiskEntryKind kindOf(mode_t mode)
{
    if (S_ISREG(mode)) return PLDiskEntryKind::file;
    if (S_ISDIR(mode)) return PLDiskEntryKind::folder;
    if (S_ISLNK(mode)) return PLDiskEntryKind::link;
    return PLDiskEntryKind::other;
}

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

struct Folder;

// One entry of a folder's listing, metadata included.
struct Item {
    std::uint32_t nameOffset = 0;
    std::uint32_t nameLength = 0;
    PLDiskEntryKind kind = PLDiskEntryKind::other;
    bool privacySkipped = false;
    std::int32_t error = 0;
    std::uint64_t allocated = 0;
    std::uint64_t logical = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t links = 0;
    std::unique_ptr<Folder> folder;  // the subfolder to descend into; empty when the walk does not enter it
};

// A folder to read. Its key is the chain of item indices from the root, so
// ordering keys orders folders as the visitor meets them.
struct Folder {
    enum class State { pending, reading, done };

    std::vector<std::uint32_t> key;
    const Folder* up = nullptr;  // the folder that holds this one; it outlives this one
    std::uint64_t inode = 0;
    std::string path;  // for the skip rules only, empty without them: every open is relative to `parent`
    std::string name;
    std::shared_ptr<Descriptor> parent;
    std::shared_ptr<Descriptor> self;  // set beforehand for the root only
    State state = State::pending;
    std::int32_t error = 0;
    std::string names;
    std::vector<Item> items;
};

struct KeyOrder {
    bool operator()(const Folder* a, const Folder* b) const { return a->key < b->key; }
};

class Walk {
public:
    Walk(const PLDiskWalkOptions& options, std::string_view rootPath, std::uint64_t rootDevice)
        : options_(options), rootPath_(rootPath), rootDevice_(rootDevice), rootIsSlash_(rootPath == "/")
    {
    }

    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    ~Walk() { stopReaders(); }

    // Visits the tree below `root`, whose descriptor is already open.
    void run(Folder& root, PLDiskVisitor& visitor, PLDiskScanStats& stats)
    {
        buffer_.resize(listingBufferBytes);
        read(root, buffer_);
        finish(root);
        const int readers = std::clamp(options_.threads, 1, maximumThreads) - 1;
        for (int i = 0; i < readers; ++i) readers_.emplace_back([this] { readLoop(); });

        PLDiskEntry entry{};
        entry.name = rootPath_;
        entry.kind = PLDiskEntryKind::folder;
        entry.error = root.error;
        entry.device = rootDevice_;
        if (!count(entry, visitor, stats)) return;

        struct Frame {
            Folder* folder;
            std::size_t next;
        };
        std::vector<Frame> stack{{&root, 0}};
        while (!stack.empty()) {
            auto& frame = stack.back();
            if (frame.next == frame.folder->items.size()) {
                release(*frame.folder);
                stack.pop_back();
                if (!stack.empty()) stack.back().folder->items[stack.back().next - 1].folder.reset();
                continue;
            }
            auto& item = frame.folder->items[frame.next++];
            entry.name = std::string_view(frame.folder->names).substr(item.nameOffset, item.nameLength);
            entry.depth = static_cast<std::uint32_t>(stack.size());
            entry.kind = item.kind;
            entry.error = item.error;
            entry.allocatedBytes = item.allocated;
            entry.logicalBytes = item.logical;
            entry.device = item.device;
            entry.inode = item.inode;
            entry.links = item.links;
            Folder* child = item.folder.get();
            if (child != nullptr) {
                if (!await(*child)) {
                    stats.cancelled = 1;
                    return;
                }
                entry.error = child->error;
            }
            if (item.privacySkipped) increment(stats.privacySkipped);
            if (!count(entry, visitor, stats)) return;
            if (child != nullptr) stack.push_back({child, 0});
        }
    }

private:
    const PLDiskWalkOptions& options_;
    const std::string rootPath_;
    const std::uint64_t rootDevice_;
    const bool rootIsSlash_;
    std::vector<char> buffer_;

    std::mutex mutex_;
    std::condition_variable readersWake_;
    std::condition_variable_any folderRead_;
    std::set<Folder*, KeyOrder> pending_;
    std::size_t readAhead_ = 0;
    bool stopping_ = false;
    std::vector<std::jthread> readers_;

    bool count(const PLDiskEntry& entry, PLDiskVisitor& visitor, PLDiskScanStats& stats)
    {
        increment(stats.entries);
        if (entry.error != 0) increment(stats.inaccessible);
        if (!visitor.visit(entry) || ((stats.entries & tickMask) == 0 && !visitor.tick(stats.entries)) ||
            options_.stop.stop_requested()) {
            stats.cancelled = 1;
            return false;
        }
        return true;
    }

    void stopReaders()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        readersWake_.notify_all();
        readers_.clear();  // joins
    }

    // Waits until `folder` is read, reading it here when no reader took it.
    bool await(Folder& folder)
    {
        std::unique_lock lock(mutex_);
        if (folder.state == Folder::State::pending) {
            pending_.erase(&folder);
            folder.state = Folder::State::reading;
            lock.unlock();
            read(folder, buffer_);
            lock.lock();
            finishLocked(folder);
            return !options_.stop.stop_requested();
        }
        return folderRead_.wait(lock, options_.stop, [&] { return folder.state == Folder::State::done; });
    }

    void finish(Folder& folder)
    {
        const std::lock_guard lock(mutex_);
        finishLocked(folder);
    }

    void finishLocked(Folder& folder)
    {
        folder.state = Folder::State::done;
        readAhead_ += folder.items.size();
        bool added = false;
        for (auto& item : folder.items) {
            if (!item.folder) continue;
            pending_.insert(item.folder.get());
            added = true;
        }
        if (added) readersWake_.notify_all();
    }

    void release(Folder& folder)
    {
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            wake = readAhead_ >= readAheadEntries;
            readAhead_ -= folder.items.size();
        }
        if (wake) readersWake_.notify_all();
    }

    void readLoop()
    {
        std::vector<char> buffer(listingBufferBytes);
        std::unique_lock lock(mutex_);
        for (;;) {
            readersWake_.wait(lock, [&] { return stopping_ || (!pending_.empty() && readAhead_ < readAheadEntries); });
            if (stopping_) return;
            Folder* folder = *pending_.begin();
            pending_.erase(pending_.begin());
            folder->state = Folder::State::reading;
            lock.unlock();
            read(*folder, buffer);
            lock.lock();
            finishLocked(*folder);
            folderRead_.notify_all();
        }
    }

    bool stopRequested()
    {
        if (options_.stop.stop_requested()) return true;
        const std::lock_guard lock(mutex_);
        return stopping_;
    }

    // Opens `folder` relative to its parent and lists it with every entry's
    // metadata. A folder swapped for a link or a file since its parent was
    // listed fails to open (O_NOFOLLOW, O_DIRECTORY) and reads as unreadable.
    void read(Folder& folder, std::vector<char>& buffer)
    {
        if (!folder.self) {
            const int fd = ::openat(folder.parent->fd, folder.name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
            folder.parent.reset();
            if (fd < 0) {
                folder.error = errno;
                return;
            }
            folder.self = std::make_shared<Descriptor>(fd);
            struct stat info {};
            if (::fstat(fd, &info) != 0) {
                folder.error = errno;
                folder.self.reset();
                return;
            }
            // Something mounted here since the listing: the walk stays on one file system.
            if (static_cast<std::uint64_t>(info.st_dev) != rootDevice_) {
                folder.self.reset();
                return;
            }
        }
        const int fd = folder.self->fd;
        bool hasSubfolders = false;
        for (std::uint32_t index = 0;;) {
            const auto length = ::getdents64(fd, buffer.data(), buffer.size());
            if (length < 0) {
                if (errno == EINTR) continue;
                folder.error = errno;
                break;
            }
            if (length == 0) break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* record = reinterpret_cast<const struct dirent64*>(buffer.data() + offset);
                offset += record->d_reclen;
                const std::string_view name(record->d_name);
                if (name == "." || name == "..") continue;
                auto& item = folder.items.emplace_back();
                item.nameOffset = static_cast<std::uint32_t>(folder.names.size());
                item.nameLength = static_cast<std::uint32_t>(name.size());
                folder.names.append(name);
                if (describe(fd, record->d_type, name, item) && item.kind == PLDiskEntryKind::folder)
                    hasSubfolders |= enter(folder, index, name, item);
                ++index;
            }
            if (stopRequested()) break;
        }
        // Subfolders hold the descriptor until they are opened themselves.
        if (!hasSubfolders) folder.self.reset();
    }

    // Fills the item's metadata; false when it could not be read.
    static bool describe(int fd, unsigned char type, std::string_view name, Item& item)
    {
        switch (type) {
        case DT_LNK:
            item.kind = PLDiskEntryKind::link;
            return true;
        case DT_FIFO:
        case DT_SOCK:
        case DT_CHR:
        case DT_BLK:
            item.kind = PLDiskEntryKind::other;
            return true;
        default:
            break;
        }
        struct stat info {};
        if (::fstatat(fd, name.data(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            item.error = errno;
            item.kind = type == DT_DIR ? PLDiskEntryKind::folder : PLDiskEntryKind::file;
            return false;
        }
        item.kind = kindOf(info.st_mode);
        item.device = static_cast<std::uint64_t>(info.st_dev);
        item.inode = static_cast<std::uint64_t>(info.st_ino);
        item.links = static_cast<std::uint32_t>(info.st_nlink);
        if (item.kind == PLDiskEntryKind::file) {
            item.allocated = allocatedBytes(info);
            item.logical = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
        }
        return true;
    }

    // Decides whether the walk enters a subfolder; true when it will.
    bool enter(Folder& folder, std::uint32_t index, std::string_view name, Item& item)
    {
        if (item.device != rootDevice_) return false;
        // A folder mounted inside itself (a bind mount) would never end.
        for (const Folder* above = &folder; above != nullptr; above = above->up)
            if (above->inode == item.inode) return false;
        // Paths serve only the skip rules: without them none is built.
        std::string path;
        if (rootIsSlash_ || options_.skipPrivacy)
            path = (folder.path == "/" ? std::string() : folder.path) + "/" + std::string(name);
        if (rootIsSlash_ && path == "/System/Volumes") return false;
        if (options_.skipPrivacy && pl_should_skip_privacy_path(rootPath_.c_str(), path.c_str()) == 1) {
            item.privacySkipped = true;
            return false;
        }
        auto child = std::make_unique<Folder>();
        child->key.reserve(folder.key.size() + 1);
        child->key = folder.key;
        child->key.push_back(index);
        child->up = &folder;
        child->inode = item.inode;
        child->path = std::move(path);
        child->name = std::string(name);
        child->parent = folder.self;
        item.folder = std::move(child);
        return true;
    }
};

// The walk of a root that has nothing to enter: one entry.
std::int32_t visitAlone(const PLDiskEntry& entry, PLDiskVisitor& visitor, PLDiskScanStats& stats)
{
    increment(stats.entries);
    if (entry.error != 0) increment(stats.inaccessible);
    if (!visitor.visit(entry)) stats.cancelled = 1;
    return 0;
}

}  // namespace

std::int32_t pl_should_skip_privacy_path(const char* root, const char* path)
{
    if (root == nullptr || path == nullptr) return 0;
    const std::string_view home = pl_account_home();
    if (home.empty()) return 0;
    const std::string_view pathText(path);
    if (pathText == std::string_view(root)) return 0;
    if (!pathText.starts_with(home)) return 0;
    const auto rest = pathText.substr(home.size());
    for (const auto suffix : privacyProtectedSuffixes)
        if (rest == suffix) return 1;
    return 0;
}

std::int32_t pl_walk_disk(const char* root, const PLDiskWalkOptions& options, PLDiskVisitor& visitor,
                          PLDiskScanStats& stats)
{
    stats = PLDiskScanStats{};
    if (root == nullptr || root[0] == '\0') return EINVAL;
    if (options.stop.stop_requested()) {
        stats.cancelled = 1;
        return 0;
    }

    PLDiskEntry entry{};
    entry.name = root;
    struct stat info {};
    const bool described = ::stat(root, &info) == 0;
    if (!described || !S_ISDIR(info.st_mode)) {
        // A root that cannot be described, or that is not a folder, is one entry.
        entry.error = described ? 0 : errno;
        entry.kind = described ? kindOf(info.st_mode) : PLDiskEntryKind::other;
        if (entry.kind == PLDiskEntryKind::file) {
            entry.allocatedBytes = allocatedBytes(info);
            entry.logicalBytes = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
            entry.device = static_cast<std::uint64_t>(info.st_dev);
            entry.inode = static_cast<std::uint64_t>(info.st_ino);
            entry.links = static_cast<std::uint32_t>(info.st_nlink);
        }
        return visitAlone(entry, visitor, stats);
    }

    Folder folder;
    folder.path = root;
    folder.inode = static_cast<std::uint64_t>(info.st_ino);
    const int fd = ::open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        folder.error = errno;
    else
        folder.self = std::make_shared<Descriptor>(fd);

    Walk walk(options, root, static_cast<std::uint64_t>(info.st_dev));
    if (folder.self)
        walk.run(folder, visitor, stats);
    else {
        entry.kind = PLDiskEntryKind::folder;
        entry.error = folder.error;
        entry.device = static_cast<std::uint64_t>(info.st_dev);
        return visitAlone(entry, visitor, stats);
    }
    return 0;
}

}  // namespace corvalent
