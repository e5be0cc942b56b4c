#pragma once

// The read-only directory walk of a disk scan: the only code that touches the
// file system while a scan runs. It never follows symbolic links, never leaves
// the root's file system and never opens a file.

#include <cstdint>

namespace corvalent {

// Counts of one walk; zeroed and filled by pl_scan_disk. Counters saturate.
struct PLDiskScanStats {
    std::uint64_t entries;         // every entry seen once (not post-order visits); the root counts
    std::uint64_t inaccessible;    // unreadable folders and entries without metadata; 1 when the walk cannot start
    std::uint64_t privacySkipped;  // privacy-protected folders left out
    std::int32_t cancelled;        // 1 when the callback stopped the walk
};

// Called for every regular file, and with a null path as a progress tick when
// the entry count reaches a multiple of 2,048 on an entry that is not a file.
// Returns 0 to stop the walk. `dataless` marks content that is not on the disk
// (never set on Linux, which has no such placeholders).
using PLDiskScanCallback = std::int32_t (*)(const char* path, std::uint64_t allocatedBytes, std::uint64_t logicalBytes,
                                            std::uint64_t device, std::uint64_t inode, std::uint32_t links,
                                            std::int32_t dataless, std::uint64_t entries, void* context);

// Walks `root`. `skipPrivacy` nonzero leaves the privacy-protected folders
// out. Returns 0 when the walk completed or the callback stopped it, EINVAL
// for a missing root or stats, otherwise the errno that ended the walk.
std::int32_t pl_scan_disk(const char* root, std::int32_t skipPrivacy, PLDiskScanCallback callback, void* context,
                          PLDiskScanStats* stats);

// 1 when `path` is one of the home folder's privacy-protected folders and not
// the scan root itself, else 0.
std::int32_t pl_should_skip_privacy_path(const char* root, const char* path);

}  // namespace corvalent
