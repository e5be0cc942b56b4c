#include "bridge/walk_descriptors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <vector>

namespace corvalent {

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

int openPatiently(int at, const char* name, int flags, const std::stop_token& stop,
                  const std::function<void()>& beforeWaiting)
{
    for (int waits = 0;; ++waits) {
        const int fd = ::openat(at, name, flags);
        if (fd >= 0 || !outOfDescriptors(errno)) return fd;
        if (beforeWaiting) beforeWaiting();
        if (stop.stop_requested()) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1 + waits, 20)));
    }
}

bool identityOf(int fd, std::uint64_t& device, std::uint64_t& inode)
{
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO, &info) != 0) return false;
    device = makedev(info.stx_dev_major, info.stx_dev_minor);
    inode = info.stx_ino;
    return true;
}

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Descriptors one walk holds at most, however high the open-file limit.
constexpr std::uint64_t maximumDescriptors = 1'024;

std::uint64_t descriptorsInUse()
{
    std::uint64_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr) ++count;
        ::closedir(folder);
    }
    return count;
}

}  // namespace

DescriptorBudget descriptorBudget(int threads, int maximumReaders)
{
    std::uint64_t soft = 1'024;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        soft = limit.rlim_cur == RLIM_INFINITY ? maximumDescriptors * 4 : limit.rlim_cur;
    const std::uint64_t inUse = descriptorsInUse();
    const std::uint64_t spare = soft > inUse ? soft - inUse : 0;
    const std::uint64_t total = std::clamp<std::uint64_t>(std::min(soft / 4, spare / 2), 4, maximumDescriptors);
    // A reader holds two at a time (a folder and the one it opens from it);
    // the root stays open for the whole walk.
    DescriptorBudget budget;
    const auto mostReaders = std::clamp<std::uint64_t>(total / 4, 1, static_cast<std::uint64_t>(std::max(maximumReaders, 1)));
    budget.readers = std::clamp(threads, 1, static_cast<int>(mostReaders));
    budget.held = static_cast<std::size_t>(total - 1 - std::min<std::uint64_t>(total - 1, 2 * budget.readers));
    return budget;
}

void WalkDescriptors::holdRoot(WalkNode& root, std::shared_ptr<FileDescriptor> descriptor, std::uint64_t device)
{
    const std::lock_guard lock(mutex_);
    root.held = std::move(descriptor);
    device_ = device;
}

std::shared_ptr<FileDescriptor> WalkDescriptors::open(WalkNode& folder, std::int32_t& error)
{
    error = 0;
    std::vector<WalkNode*> way;
    std::shared_ptr<FileDescriptor> at;
    {
        const std::lock_guard lock(mutex_);
        WalkNode* above = folder.up;
        for (; above != nullptr && !above->held; above = above->up) way.push_back(above);
        // None left: the walk has ended.
        if (above == nullptr) return {};
        at = above->held;
    }
    for (auto step = way.rbegin(); step != way.rend() && at; ++step) {
        at = openBelow(at->get(), **step, error);
        if (!at) break;
        const std::lock_guard lock(mutex_);
        holdLocked(**step, at);
    }
    auto opened = at ? openBelow(at->get(), folder, error) : nullptr;
    at.reset();
    if (opened || error != 0) openedOneBelow(*folder.up);
    return opened;
}

void WalkDescriptors::listed(WalkNode& folder, std::uint32_t subfolders,
                             const std::shared_ptr<FileDescriptor>& descriptor)
{
    // No subfolder is published before its folder's listing ends, so
    // nothing counts down before this is set.
    const std::lock_guard lock(mutex_);
    folder.unopened = subfolders;
    holdLocked(folder, descriptor);
}

std::shared_ptr<FileDescriptor> WalkDescriptors::openBelow(int at, const WalkNode& folder, std::int32_t& error)
{
    const int fd = openPatiently(at, folder.name.c_str(), folderFlags, stop_, [this] { dropHeld(); });
    if (fd < 0) {
        const int failure = errno;
        error = stop_.stop_requested() ? 0 : failure;
        return {};
    }
    auto descriptor = std::make_shared<FileDescriptor>(fd);
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    if (!identityOf(fd, device, inode)) {
        error = errno;
        return {};
    }
    if (device != device_ || inode != folder.inode) {
        error = ESTALE;
        return {};
    }
    return descriptor;
}

void WalkDescriptors::holdLocked(WalkNode& folder, const std::shared_ptr<FileDescriptor>& descriptor)
{
    if (folder.held || folder.unopened == 0 || holding_.size() >= budget_) return;
    folder.held = descriptor;
    holding_.insert(&folder);
}

// One subfolder of `folder` is opened, or never will be: its descriptor goes
// back once no subfolder needs it. The root keeps its own.
void WalkDescriptors::openedOneBelow(WalkNode& folder)
{
    std::shared_ptr<FileDescriptor> dropped;
    const std::lock_guard lock(mutex_);
    if (--folder.unopened != 0 || folder.up == nullptr || !folder.held) return;
    dropped = std::move(folder.held);
    holding_.erase(&folder);
}

// Gives back every descriptor kept for later, the root's aside.
void WalkDescriptors::dropHeld()
{
    std::vector<std::shared_ptr<FileDescriptor>> dropped;
    const std::lock_guard lock(mutex_);
    for (WalkNode* folder : holding_) dropped.push_back(std::move(folder->held));
    holding_.clear();
}

void WalkDescriptors::release(WalkNode& root)
{
    dropHeld();
    std::shared_ptr<FileDescriptor> dropped;
    const std::lock_guard lock(mutex_);
    dropped = std::move(root.held);
}

}  // namespace corvalent
