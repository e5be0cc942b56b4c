#pragma once

// The descriptors of one directory walk: how many it may hold, an open that
// waits rather than fail when the process has none to spare, and the folders
// kept open so that their subfolders can be opened from them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <unordered_set>

#include "bridge/file_descriptor.h"

namespace corvalent {

// How many descriptors one walk may hold, split between its readers and the
// folders it keeps open for their subfolders.
struct DescriptorBudget {
    int readers = 1;
    std::size_t held = 0;
};

// A quarter of the soft open-file limit, and no more than half of what is
// still free, so the rest of the program keeps most of its descriptors; at
// most `maximumReaders` readers, each holding two at a time, and the root
// held for the whole walk.
DescriptorBudget descriptorBudget(int threads, int maximumReaders);

bool outOfDescriptors(int error);

// openat that waits while the process (or the system) has no descriptor to
// spare, calling `beforeWaiting` (when set) first each time. Returns -1 with
// errno set for any other failure, or when `stop` ends the wait.
int openPatiently(int at, const char* name, int flags, const std::stop_token& stop,
                  const std::function<void()>& beforeWaiting);

// Device and inode of an open file; false when it cannot be described.
bool identityOf(int fd, std::uint64_t& device, std::uint64_t& inode);

// A folder on the way down from the root: what it takes to open it again.
struct WalkNode {
    WalkNode* up = nullptr;  // the folder that holds this one; it outlives this one
    std::string name;        // the root's whole path
    std::uint64_t inode = 0;
    std::uint32_t depth = 0;
    // Guarded by the descriptors' lock: this folder's descriptor, kept while
    // subfolders still have to be opened from it, and how many have not.
    std::shared_ptr<FileDescriptor> held;
    std::uint32_t unopened = 0;
};

// The descriptors one walk holds beyond its readers' own: the root's for the
// whole walk, and a bounded number of folders whose subfolders are still to
// be opened. A folder whose parent gave its descriptor back is opened again
// from the nearest folder above that holds one, one name at a time.
class WalkDescriptors {
public:
    WalkDescriptors(std::size_t budget, std::stop_token stop) : budget_(budget), stop_(std::move(stop)) {}
    WalkDescriptors(const WalkDescriptors&) = delete;
    WalkDescriptors& operator=(const WalkDescriptors&) = delete;

    // The root, opened, and the device the walk stays on.
    void holdRoot(WalkNode& root, std::shared_ptr<FileDescriptor> descriptor, std::uint64_t device);

    // Opens `folder` below the root, each folder on the way checked for the
    // device and inode its listing gave: a folder swapped for a link fails to
    // open (O_NOFOLLOW), one replaced by another is refused (ESTALE). Waits
    // for a descriptor when the process has none to spare. Returns empty
    // with `error` set when the folder cannot be opened, or 0 when the stop
    // ended the wait.
    std::shared_ptr<FileDescriptor> open(WalkNode& folder, std::int32_t& error);

    // `folder` is listed and `subfolders` of it are to be opened: its
    // descriptor is kept for them while the budget allows.
    void listed(WalkNode& folder, std::uint32_t subfolders, const std::shared_ptr<FileDescriptor>& descriptor);

    // Gives back every descriptor kept, the root's too; a reader still
    // using one keeps it until it is done.
    void release(WalkNode& root);

private:
    const std::size_t budget_;
    const std::stop_token stop_;
    std::uint64_t device_ = 0;
    std::mutex mutex_;
    std::unordered_set<WalkNode*> holding_;  // folders below the root that hold a descriptor

    std::shared_ptr<FileDescriptor> openBelow(int at, const WalkNode& folder, std::int32_t& error);
    void holdLocked(WalkNode& folder, const std::shared_ptr<FileDescriptor>& descriptor);
    void openedOneBelow(WalkNode& folder);
    void dropHeld();
};

}  // namespace corvalent
