#include "bridge/walk_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

#include "bridge/disk_privacy.h"

namespace corvalent::walk {
namespace {

// Entries read ahead of the visitor. Beyond this, readers read only the
// folder the visitor waits for, so memory stays bounded whatever the tree's
// shape.
constexpr std::size_t readAheadEntries = 128 * 1'024;
// Readers stopped by that bound start again once the visitor has taken this
// many of those entries, not one folder at a time.
constexpr std::size_t readAheadRestart = readAheadEntries / 4;
constexpr std::size_t listingBufferBytes = 64 * 1'024;
// The root may be a link to the folder to walk: no O_NOFOLLOW there.
constexpr int rootFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
constexpr unsigned describeFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT;
constexpr unsigned describeMask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE | STATX_BLOCKS |
                                STATX_MTIME;

}  // namespace

WalkState::WalkState(const PLDiskWalkOptions& options, std::string_view root, const DescriptorBudget& budget)
    : skipPrivacy_(options.skipPrivacy),
      rootIsSlash_(root == "/"),
      readers_(budget.readers),
      privacy_(options.skipPrivacy ? options.privacy : PLPrivacyFolders{}),
      keepWhileReading_(options.keepWhileReading),
      descriptors_(budget.held, end_.get_token())
{
    root_ = std::make_unique<Folder>();
    root_->name = std::string(root);
    root_->place = queue_.insert(queue_.end(), root_.get());
    // Paths serve only the skip rules: two levels below the root, and
    // as deep as the privacy rule looks.
    std::size_t rulesDepth = rootIsSlash_ ? 2 : 0;
    if (skipPrivacy_) rulesDepth = std::max(rulesDepth, privacyRuleDepth(privacy_));
    const auto rootDepth = pathComponents(root);
    pathDepth_ = rulesDepth > rootDepth ? static_cast<std::uint32_t>(rulesDepth - rootDepth) : 0;
}

// Folder by folder, never one destructor inside another: a chain of
// folders may be any depth.
WalkState::~WalkState()
{
    std::vector<std::unique_ptr<Folder>> rest;
    rest.push_back(std::move(root_));
    while (!rest.empty()) {
        auto folder = std::move(rest.back());
        rest.pop_back();
        for (auto& item : folder->items)
            if (item.folder) rest.push_back(std::move(item.folder));
    }
}

void WalkState::end()
{
    {
        std::unique_lock lock(mutex_);
        const int busy = liveReaders_ - idleReaders_;
        end_.request_stop();
        readerLeft_.wait(lock, [&] { return liveReaders_ <= busy; });
    }
    descriptors_.release(*root_);
}

PLDiskAhead WalkState::found() const
{
    return {found_[0].load(std::memory_order_relaxed), found_[1].load(std::memory_order_relaxed),
            found_[2].load(std::memory_order_relaxed)};
}

void WalkState::release(const Folder& folder)
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

void WalkState::readLoop()
{
    std::vector<char> buffer(listingBufferBytes);
    const auto end = end_.get_token();
    std::unique_lock lock(mutex_);
    ++liveReaders_;
    const Leaving leaving{*this};
    for (;;) {
        Folder* folder = nullptr;
        ++idleReaders_;
        readersWake_.wait(lock, end, [&] { return (folder = nextLocked()) != nullptr; });
        --idleReaders_;
        if (end.stop_requested()) return;
        folder->state = Folder::State::reading;
        lock.unlock();
        const bool read = this->read(*folder, buffer);
        lock.lock();
        if (!read) return;
        finishLocked(*folder);
        if (folder == awaited_) folderRead_.notify_all();
    }
}

// The first folder still to read, which is the one the visitor meets
// next; while read-ahead is full, only the one it waits for.
Folder* WalkState::nextLocked()
{
    for (Folder* folder : queue_)
        if (folder->state == Folder::State::pending) return !throttled_ || folder == awaited_ ? folder : nullptr;
    return nullptr;
}

// Publishes the subfolders of a folder just read, in its place.
void WalkState::finishLocked(Folder& folder)
{
    folder.state = Folder::State::done;
    readAhead_ += folder.items.size();
    if (readAhead_ >= readAheadEntries) throttled_ = true;
    int added = 0;
    PLDiskAhead counts;
    for (auto& item : folder.items) {
        addFound(counts, item);
        if (!item.folder) continue;
        item.folder->place = queue_.insert(folder.place, item.folder.get());
        ++added;
    }
    queue_.erase(folder.place);
    found_[0].fetch_add(counts.entries, std::memory_order_relaxed);
    found_[1].fetch_add(counts.files, std::memory_order_relaxed);
    found_[2].fetch_add(counts.allocatedBytes, std::memory_order_relaxed);
    folder.read.store(true, std::memory_order_release);
    // Wake only as many readers as there is new work for, beyond what
    // this one takes next.
    --added;
    if (throttled_ || idleReaders_ == 0 || added <= 0) return;
    if (added >= idleReaders_)
        readersWake_.notify_all();
    else
        for (int i = 0; i < added; ++i) readersWake_.notify_one();
}

// Opens `folder` and lists it with every entry's metadata. A folder
// swapped for a link or a file since its parent was listed fails to open
// (O_NOFOLLOW, O_DIRECTORY) and reads as unreadable. False when the walk
// ended first.
bool WalkState::read(Folder& folder, std::vector<char>& buffer)
{
    if (folder.up == nullptr) return readRoot(folder, buffer);
    std::int32_t error = 0;
    auto descriptor = descriptors_.open(folder, error);
    if (!descriptor) {
        folder.error = error;
        return error != 0;
    }
    return list(folder, descriptor, buffer);
}

// The root is opened, never described before: what it names may change
// as it is opened (an automount point, a link retargeted).
bool WalkState::readRoot(Folder& root, std::vector<char>& buffer)
{
    const int fd = openPatiently(AT_FDCWD, root.name.c_str(), rootFlags, end_.get_token(), {});
    const int openError = errno;
    if (fd < 0) {
        if (ended()) return false;
        // Not a folder, or not one that can be opened: the root is one entry.
        struct statx info {};
        if (::statx(AT_FDCWD, root.name.c_str(), AT_STATX_SYNC_AS_STAT, describeMask, &info) != 0) {
            rootEntry_.error = errno;
        } else {
            rootEntry_.describe(info);
            if (rootEntry_.kind == PLDiskEntryKind::folder) {
                rootEntry_.error = openError;
                rootEntry_.inode = 0;
            } else if (rootEntry_.kind != PLDiskEntryKind::file) {
                rootEntry_.device = rootEntry_.inode = rootEntry_.links = 0;
            }
        }
        return true;
    }
    auto descriptor = std::make_shared<FileDescriptor>(fd);
    rootEntry_.kind = PLDiskEntryKind::folder;
    if (!identityOf(fd, rootEntry_.device, rootEntry_.inode)) {
        rootEntry_.error = errno;
        return true;
    }
    root.inode = rootEntry_.inode;
    descriptors_.holdRoot(root, descriptor, rootEntry_.device);
    mounts_ = mountsBelowFolder(fd, end_.get_token());
    root.mounts = mounts_.get();
    return list(root, descriptor, buffer);
}

// Lists the open folder into `folder`, deciding which subfolders the
// walk enters. False when the walk ended first.
bool WalkState::list(Folder& folder, const std::shared_ptr<FileDescriptor>& descriptor, std::vector<char>& buffer)
{
    const int fd = descriptor->get();
    std::uint32_t entered = 0;
    for (;;) {
        const auto length = ::getdents64(fd, buffer.data(), buffer.size());
        if (length < 0) {
            if (errno == EINTR) continue;
            folder.error = errno;
            break;
        }
        if (length == 0) break;
        for (ssize_t offset = 0; offset < length;) {
            if (ended()) return false;
            const auto* record = reinterpret_cast<const struct dirent64*>(buffer.data() + offset);
            offset += record->d_reclen;
            const std::string_view name(record->d_name);
            if (name == "." || name == "..") continue;
            auto& item = folder.items.emplace_back();
            item.nameOffset = static_cast<std::uint32_t>(folder.names.size());
            item.nameLength = static_cast<std::uint32_t>(name.size());
            folder.names.append(name);
            const auto* place = folder.mounts != nullptr ? folder.mounts->find(name) : nullptr;
            bool mountRoot = false;
            if (describe(fd, record->d_type, name, place, item, mountRoot) && item.kind == PLDiskEntryKind::folder &&
                enter(folder, name, place, item, mountRoot))
                ++entered;
        }
    }
    descriptors_.listed(folder, entered, descriptor);
    return true;
}

// Fills the item's metadata; false when it could not be read, or is
// not to be read: a point where another file system is mounted is only
// named, its kind taken from the listing and its device from the mount
// table. `mountRoot` is set for a folder that may be the root of a mount.
bool WalkState::describe(int fd, unsigned char type, std::string_view name, const MountPlace* place, Item& item,
                         bool& mountRoot)
{
    switch (type) {
        case DT_LNK: item.kind = PLDiskEntryKind::link; return true;
        case DT_FIFO:
        case DT_SOCK:
        case DT_CHR:
        case DT_BLK: item.kind = PLDiskEntryKind::other; return true;
        default: break;
    }
    if (place != nullptr && place->mountPoint && place->otherFileSystem) {
        item.kind = type == DT_REG ? PLDiskEntryKind::file : PLDiskEntryKind::folder;
        item.device = place->device;
        item.links = 1;
        return false;
    }
    struct statx info {};
    if (::statx(fd, name.data(), describeFlags, describeMask, &info) != 0) {
        item.error = errno;
        item.kind = type == DT_DIR ? PLDiskEntryKind::folder : PLDiskEntryKind::file;
        return false;
    }
    item.describe(info);
    mountRoot =
        (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) == 0 || (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return true;
}

// Decides whether the walk enters a subfolder; true when it will.
bool WalkState::enter(Folder& folder, std::string_view name, const MountPlace* place, Item& item, bool mountRoot)
{
    if (item.device != rootEntry_.device) return false;
    // A folder mounted inside itself (a bind mount) would never end.
    if (mountRoot)
        for (const WalkNode* above = &folder; above != nullptr; above = above->up)
            if (above->inode == item.inode) return false;
    if (folder.depth < pathDepth_ && (rootIsSlash_ || skipPrivacy_)) {
        const auto path = pathOf(folder, name);
        if (rootIsSlash_ && path == "/System/Volumes") return false;
        if (skipPrivacy_ && pl_should_skip_privacy_path(root_->name.c_str(), path.c_str(), privacy_) == 1) {
            item.privacySkipped = true;
            return false;
        }
    }
    auto child = std::make_unique<Folder>();
    child->up = &folder;
    child->depth = folder.depth + 1;
    child->inode = item.inode;
    child->name = std::string(name);
    if (place != nullptr && !place->below.empty()) child->mounts = place;
    item.folder = std::move(child);
    return true;
}

// The path of `name` in `folder`, built from the names on the way down.
std::string WalkState::pathOf(const WalkNode& folder, std::string_view name)
{
    std::vector<const WalkNode*> way;
    const WalkNode* node = &folder;
    for (; node->up != nullptr; node = node->up) way.push_back(node);
    std::string path = node->name == "/" ? std::string() : node->name;
    for (auto step = way.rbegin(); step != way.rend(); ++step) path.append("/").append((*step)->name);
    return path.append("/").append(name);
}

}  // namespace corvalent::walk
