#pragma once

// What one directory walk reads of a folder: its entries with their metadata,
// and the subfolders it goes on to read.

#include <atomic>
#include <cstdint>
#include <limits>
#include <list>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

#include "bridge/disk_walk_values.h"
#include "bridge/walk_descriptors.h"
#include "bridge/walk_mounts.h"

namespace corvalent::walk {

inline PLDiskEntryKind kindOf(mode_t mode)
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
    std::uint32_t modifiedNanoseconds = 0;  // a file's modification time
    std::int64_t modifiedSeconds = 0;
    std::unique_ptr<Folder> folder;  // the subfolder to descend into; empty when the walk does not enter it

    // The entry as the visitor meets it, its name aside.
    void fill(PLDiskEntry& entry) const
    {
        entry.kind = kind;
        entry.error = error;
        entry.allocatedBytes = allocated;
        entry.logicalBytes = logical;
        entry.device = device;
        entry.inode = inode;
        entry.links = links;
        entry.modifiedSeconds = modifiedSeconds;
        entry.modifiedNanoseconds = modifiedNanoseconds;
    }

    void describe(const struct statx& info)
    {
        kind = kindOf(info.stx_mode);
        device = makedev(info.stx_dev_major, info.stx_dev_minor);
        inode = info.stx_ino;
        links = info.stx_nlink;
        if (kind != PLDiskEntryKind::file) return;
        constexpr auto maxBlocks = std::numeric_limits<std::uint64_t>::max() / 512;
        allocated = info.stx_blocks > maxBlocks ? std::numeric_limits<std::uint64_t>::max() : info.stx_blocks * 512;
        logical = info.stx_size;
        modifiedSeconds = info.stx_mtime.tv_sec;
        modifiedNanoseconds = info.stx_mtime.tv_nsec;
    }
};

// A folder to read, and once read, its listing.
struct Folder : WalkNode {
    enum class State { pending, reading, done };

    // Guarded by the walk's lock: while pending or reading, its place among
    // the folders to read, which stay in the order the visitor meets them.
    State state = State::pending;
    std::atomic<bool> read = false;  // set, after all else, once the listing is published
    std::list<Folder*>::iterator place;
    std::int32_t error = 0;
    std::string names;
    std::vector<Item> items;
    // Where mount points lie below this folder; null when none do.
    const MountPlace* mounts = nullptr;
};

}  // namespace corvalent::walk
