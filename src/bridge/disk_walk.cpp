#include "bridge/disk_walk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
#include <unordered_set>
#include <vector>

#include "bridge/disk_privacy.h"
#include "bridge/walk_descriptors.h"

namespace corvalent {
namespace {

constexpr std::uint64_t tickMask = 2'048 - 1;
constexpr int maximumThreads = 8;
// Entries read ahead of the visitor. Beyond this, readers wait and the caller
// reads the folder it needs next itself, so memory stays bounded whatever the
// tree's shape.
constexpr std::size_t readAheadEntries = 128 * 1'024;
// Readers stopped by that bound start again once the visitor has taken this
// many of those entries, not one folder at a time.
constexpr std::size_t readAheadRestart = readAheadEntries / 4;
constexpr std::size_t listingBufferBytes = 64 * 1'024;
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

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
    Folder* up = nullptr;  // the folder that holds this one; it outlives this one
    std::uint64_t inode = 0;
    std::string path;  // for the skip rules only, empty without them: every open is relative to a folder above
    std::string name;
    State state = State::pending;
    std::int32_t error = 0;
    std::string names;
    std::vector<Item> items;
    // Guarded by the walk's descriptor lock: this folder's descriptor, kept
    // while subfolders still have to be opened from it, and how many have not.
    std::shared_ptr<Descriptor> held;
    std::uint32_t unopened = 0;
};

struct KeyOrder {
    bool operator()(const Folder* a, const Folder* b) const { return a->key < b->key; }
};

class Walk {
public:
    Walk(const PLDiskWalkOptions& options, std::string_view rootPath, std::uint64_t rootDevice)
        : options_(options), budget_(descriptorBudget(options.threads, maximumThreads)), rootPath_(rootPath),
          rootDevice_(rootDevice), rootIsSlash_(rootPath == "/")
    {
    }

    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    ~Walk() { stopReaders(); }

    // Visits the tree below `root`, whose descriptor is already held.
    void run(Folder& root, PLDiskVisitor& visitor, PLDiskScanStats& stats)
    {
        buffer_.resize(listingBufferBytes);
        list(root, root.held->fd, buffer_);
        finish(root);
        for (int i = 1; i < budget_.readers; ++i) readers_.emplace_back([this] { readLoop(); });

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
    const DescriptorBudget budget_;
    const std::string rootPath_;
    const std::uint64_t rootDevice_;
    const bool rootIsSlash_;
    std::vector<char> buffer_;

    std::mutex mutex_;
    std::condition_variable readersWake_;
    std::condition_variable folderRead_;
    std::set<Folder*, KeyOrder> pending_;
    std::size_t readAhead_ = 0;
    bool throttled_ = false;  // read ahead as far as allowed: readers wait for the visitor
    int idleReaders_ = 0;
    const Folder* awaited_ = nullptr;  // the folder the caller waits for
    std::atomic<bool> stopping_ = false;
    // Set once the process ran out of descriptors: from then on the caller
    // reads alone.
    bool sequential_ = false;
    std::vector<std::jthread> readers_;

    // Folders below the root that hold a descriptor; the root's is kept for
    // the whole walk.
    std::mutex descriptors_;
    std::unordered_set<Folder*> holding_;

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

    // Waits until `folder` is read, reading it here when no reader has it.
    bool await(Folder& folder)
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (folder.state == Folder::State::done) return true;
            if (folder.state == Folder::State::pending) {
                pending_.erase(&folder);
                folder.state = Folder::State::reading;
                lock.unlock();
                const bool read = this->read(folder, buffer_, true);
                lock.lock();
                if (!read) return false;
                finishLocked(folder);
                return !options_.stop.stop_requested();
            }
            // A stop is noticed within a few milliseconds, also while a
            // reader is stuck on a slow folder.
            awaited_ = &folder;
            while (folder.state == Folder::State::reading && !options_.stop.stop_requested())
                folderRead_.wait_for(lock, std::chrono::milliseconds(5));
            awaited_ = nullptr;
            if (folder.state == Folder::State::reading) return false;
        }
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
        if (readAhead_ >= readAheadEntries) throttled_ = true;
        int added = 0;
        for (auto& item : folder.items) {
            if (!item.folder) continue;
            pending_.insert(item.folder.get());
            ++added;
        }
        // Wake only as many readers as there is new work for.
        if (sequential_ || throttled_ || idleReaders_ == 0 || added == 0) return;
        if (added >= idleReaders_)
            readersWake_.notify_all();
        else
            for (int i = 0; i < added; ++i) readersWake_.notify_one();
    }

    void release(Folder& folder)
    {
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            readAhead_ -= folder.items.size();
            wake = throttled_ && readAhead_ < readAheadEntries - readAheadRestart;
            if (wake) throttled_ = false;
        }
        if (wake) readersWake_.notify_all();
    }

    void readLoop()
    {
        std::vector<char> buffer(listingBufferBytes);
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idleReaders_;
            readersWake_.wait(lock, [&] {
                return stopping_ || (!sequential_ && !throttled_ && !pending_.empty());
            });
            --idleReaders_;
            if (stopping_) return;
            Folder* folder = *pending_.begin();
            pending_.erase(pending_.begin());
            folder->state = Folder::State::reading;
            lock.unlock();
            const bool read = this->read(*folder, buffer, false);
            lock.lock();
            if (read) {
                finishLocked(*folder);
            } else {
                // Out of descriptors: hand the folder back to the caller, who
                // waits for one, and stop reading ahead.
                folder->state = Folder::State::pending;
                pending_.insert(folder);
                sequential_ = true;
            }
            if (folder == awaited_) folderRead_.notify_one();
        }
    }

    bool stopRequested() const { return stopping_ || options_.stop.stop_requested(); }

    // Gives back every descriptor the walk keeps for later, the root's aside.
    void dropHeldDescriptors()
    {
        std::vector<std::shared_ptr<Descriptor>> dropped;
        {
            const std::lock_guard lock(descriptors_);
            for (Folder* folder : holding_) dropped.push_back(std::move(folder->held));
            holding_.clear();
        }
    }

    // Keeps `descriptor` open for the subfolders of `folder` still to be
    // opened, while the budget allows. Called with the descriptor lock held.
    void holdLocked(Folder& folder, const std::shared_ptr<Descriptor>& descriptor)
    {
        if (folder.held || folder.unopened == 0 || holding_.size() >= budget_.held) return;
        folder.held = descriptor;
        holding_.insert(&folder);
    }

    // Opens the folder that holds `folder`: from the nearest folder above
    // that still holds a descriptor, one name at a time, each checked against
    // what its listing said. A folder swapped for a link fails to open
    // (O_NOFOLLOW); one replaced by another folder is refused. Returns empty
    // with `error` set when the way down is gone, or with `error` 0 when the
    // wait for a descriptor ended (impatient readers, or a stop).
    std::shared_ptr<Descriptor> openParent(Folder& folder, bool patient, std::int32_t& error)
    {
        std::vector<Folder*> way;
        std::shared_ptr<Descriptor> at;
        {
            const std::lock_guard lock(descriptors_);
            Folder* above = folder.up;
            for (; !above->held; above = above->up) way.push_back(above);
            at = above->held;
        }
        for (auto step = way.rbegin(); step != way.rend(); ++step) {
            Folder& next = **step;
            const int fd = openFolder(at->fd, next.name.c_str(), patient);
            if (fd < 0) {
                error = outOfDescriptors(errno) || options_.stop.stop_requested() ? 0 : errno;
                return {};
            }
            auto descriptor = std::make_shared<Descriptor>(fd);
            struct stat info {};
            if (::fstat(fd, &info) != 0) {
                error = errno;
                return {};
            }
            if (static_cast<std::uint64_t>(info.st_dev) != rootDevice_ ||
                static_cast<std::uint64_t>(info.st_ino) != next.inode) {
                error = ESTALE;
                return {};
            }
            at = std::move(descriptor);
            const std::lock_guard lock(descriptors_);
            holdLocked(next, at);
        }
        return at;
    }

    int openFolder(int at, const char* name, bool patient)
    {
        if (!patient) return ::openat(at, name, folderFlags);
        return openPatiently(at, name, folderFlags, options_.stop, [this] { dropHeldDescriptors(); });
    }

    // One subfolder of `folder` is opened, or will never be: its descriptor
    // goes back once no subfolder needs it.
    void openedOneBelow(Folder& folder)
    {
        std::shared_ptr<Descriptor> dropped;
        const std::lock_guard lock(descriptors_);
        if (--folder.unopened != 0 || folder.up == nullptr || !folder.held) return;
        dropped = std::move(folder.held);
        holding_.erase(&folder);
    }

    // Opens `folder` and lists it with every entry's metadata. A folder
    // swapped for a link or a file since its parent was listed fails to open
    // (O_NOFOLLOW, O_DIRECTORY) and reads as unreadable. Returns false, having
    // changed nothing, when it found no descriptor to spare and is not
    // `patient`, or when the walk stopped while it waited.
    bool read(Folder& folder, std::vector<char>& buffer, bool patient)
    {
        std::int32_t error = 0;
        auto parent = openParent(folder, patient, error);
        int fd = -1;
        if (parent) {
            fd = openFolder(parent->fd, folder.name.c_str(), patient);
            error = fd >= 0 || outOfDescriptors(errno) || options_.stop.stop_requested() ? 0 : errno;
        }
        parent.reset();
        if (fd < 0 && error == 0) return false;
        openedOneBelow(*folder.up);
        if (fd < 0) {
            folder.error = error;
            return true;
        }
        const auto self = std::make_shared<Descriptor>(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            folder.error = errno;
            return true;
        }
        // Something mounted here since the listing: the walk stays on one file system.
        if (static_cast<std::uint64_t>(info.st_dev) != rootDevice_) return true;
        list(folder, fd, buffer);
        if (folder.unopened != 0) {
            const std::lock_guard lock(descriptors_);
            holdLocked(folder, self);
        }
        return true;
    }

    // Lists the open folder `fd` into `folder`, deciding which subfolders the
    // walk enters.
    void list(Folder& folder, int fd, std::vector<char>& buffer)
    {
        std::uint32_t entered = 0;
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
                if (describe(fd, record->d_type, name, item) && item.kind == PLDiskEntryKind::folder &&
                    enter(folder, index, name, item))
                    ++entered;
                ++index;
            }
            if (stopRequested()) break;
        }
        // No subfolder is published before the listing ends, so nothing
        // counts down before this is set.
        const std::lock_guard lock(descriptors_);
        folder.unopened = entered;
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
        if (options_.skipPrivacy &&
            pl_should_skip_privacy_path(rootPath_.c_str(), path.c_str(), options_.desktopPrivacyFolders) == 1) {
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
    // The root may be a link to the folder to walk: no O_NOFOLLOW here.
    const int fd = openPatiently(AT_FDCWD, root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY, options.stop, {});
    const int openError = errno;
    if (fd < 0 && options.stop.stop_requested()) {
        stats.cancelled = 1;
        return 0;
    }
    if (fd < 0) {
        entry.kind = PLDiskEntryKind::folder;
        entry.error = openError;
        entry.device = static_cast<std::uint64_t>(info.st_dev);
        return visitAlone(entry, visitor, stats);
    }
    folder.held = std::make_shared<Descriptor>(fd);
    Walk walk(options, root, static_cast<std::uint64_t>(info.st_dev));
    walk.run(folder, visitor, stats);
    return 0;
}

}  // namespace corvalent
