#pragma once

// What one directory walk's caller and its readers share: the folders to
// read, in the order the visitor meets them, the readers' loop, and how a
// folder is read.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bridge/disk_walk_values.h"
#include "bridge/walk_descriptors.h"
#include "bridge/walk_folder.h"

namespace corvalent::walk {

// What one entry adds to the counts of found entries.
inline void addFound(PLDiskAhead& counts, const Item& item)
{
    ++counts.entries;
    if (item.kind != PLDiskEntryKind::file || item.error != 0) return;
    ++counts.files;
    if (item.links < 2) counts.allocatedBytes += item.allocated;
}

// How long the visitor spins before it sleeps while awaiting a folder.
constexpr auto awaitSpin = std::chrono::microseconds(200);
// How often the visitor hears from a walk that waits for a reader.
constexpr auto waitingInterval = std::chrono::milliseconds(100);

// What a walk's caller and its readers share. A reader blocked in the file
// system keeps it alive after the caller has returned, and frees it when
// its call comes back.
class WalkState {
public:
    WalkState(const PLDiskWalkOptions& options, std::string_view root, const DescriptorBudget& budget);
    WalkState(const WalkState&) = delete;
    WalkState& operator=(const WalkState&) = delete;
    ~WalkState();

    int readers() const { return readers_; }
    Folder& root() { return *root_; }
    const Item& rootEntry() const { return rootEntry_; }

    // Ends the readers' work: the idle ones leave at once, one in a call
    // into the file system as soon as it returns. Every descriptor the walk
    // keeps is given back now, unless a reader is still using it.
    void end();

    // Entries readers have published so far.
    PLDiskAhead found() const;

    // Waits until a reader has read `folder`, calling `waiting` every so
    // often meanwhile; false when `stop` came first or `waiting` said so.
    template <typename Waiting>
    bool await(Folder& folder, const std::stop_token& stop, Waiting waiting);

    // The visitor is done with `folder`'s entries.
    void release(const Folder& folder);

    // One reader: reads the folders the visitor meets next until the walk ends.
    void readLoop();

private:
    // Counts a reader out as it leaves, the walk's lock held.
    struct Leaving {
        WalkState& state;
        ~Leaving()
        {
            --state.liveReaders_;
            state.readerLeft_.notify_all();
        }
    };

    const bool skipPrivacy_;
    const bool rootIsSlash_;
    const int readers_;
    const PLPrivacyFolders privacy_;
    const std::shared_ptr<const void> keepWhileReading_;
    std::uint32_t pathDepth_ = 0;  // folders down to this depth below the root get a path
    std::stop_source end_;
    WalkDescriptors descriptors_;
    std::unique_ptr<Folder> root_;
    // Written by the reader of the root before it publishes any folder.
    Item rootEntry_;
    std::unique_ptr<MountPlace> mounts_;
    std::atomic<std::uint64_t> found_[3] = {0, 0, 0};  // PLDiskAhead's fields, in its order

    std::mutex mutex_;
    std::condition_variable_any readersWake_;
    std::condition_variable_any folderRead_;
    std::list<Folder*> queue_;  // folders pending or being read, in visiting order
    std::size_t readAhead_ = 0;
    bool throttled_ = false;  // read ahead as far as allowed: readers wait for the visitor
    int idleReaders_ = 0;
    int liveReaders_ = 0;
    std::condition_variable readerLeft_;
    const Folder* awaited_ = nullptr;  // the folder the caller waits for

    Folder* nextLocked();
    void finishLocked(Folder& folder);
    bool ended() const { return end_.stop_requested(); }

    bool read(Folder& folder, std::vector<char>& buffer);
    bool readRoot(Folder& root, std::vector<char>& buffer);
    bool list(Folder& folder, const std::shared_ptr<FileDescriptor>& descriptor, std::vector<char>& buffer);
    static bool describe(int fd, unsigned char type, std::string_view name, const MountPlace* place, Item& item,
                         bool& mountRoot);
    bool enter(Folder& folder, std::string_view name, const MountPlace* place, Item& item, bool mountRoot);
    static std::string pathOf(const WalkNode& folder, std::string_view name);
};

template <typename Waiting>
bool WalkState::await(Folder& folder, const std::stop_token& stop, Waiting waiting)
{
    if (folder.read.load(std::memory_order_acquire)) return true;
    {
        const std::lock_guard lock(mutex_);
        awaited_ = &folder;
        // While read-ahead is full the readers sleep; the awaited folder
        // is read all the same.
        if (throttled_ && folder.state == Folder::State::pending) readersWake_.notify_one();
    }
    // A reader is usually at it already: a short wait here spares a
    // sleep and a wake for each folder of a deep chain.
    const auto until = std::chrono::steady_clock::now() + awaitSpin;
    while (!folder.read.load(std::memory_order_acquire) && !stop.stop_requested() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    std::unique_lock lock(mutex_);
    const auto done = [&] { return folder.state == Folder::State::done; };
    while (!folderRead_.wait_for(lock, stop, waitingInterval, done) && !stop.stop_requested()) {
        lock.unlock();
        const bool goOn = waiting();
        lock.lock();
        if (!goOn) break;
    }
    awaited_ = nullptr;
    return done();
}

}  // namespace corvalent::walk
