#pragma once

// The values a directory walk hands its visitor and takes from its caller,
// shared by the walk's interface and its readers.

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string_view>

#include "bridge/disk_privacy.h"

namespace corvalent {

enum class PLDiskEntryKind : std::uint8_t { file, folder, link, other };

// One entry as the walk meets it. `name` is valid only during the visit.
struct PLDiskEntry {
    std::string_view name;  // raw bytes of the entry's name; the root's whole path
    std::uint32_t depth;    // 0 for the root; an entry lies in the folder last visited one level up
    PLDiskEntryKind kind;
    std::int32_t error;     // errno when its metadata, or a folder's contents, could not be read
    std::uint64_t allocatedBytes;  // st_blocks × 512
    std::uint64_t logicalBytes;
    std::uint64_t device;
    std::uint64_t inode;
    std::uint32_t links;
    std::int64_t modifiedSeconds;       // a file's modification time (st_mtim)
    std::uint32_t modifiedNanoseconds;
    // Dataless content that is not on the disk; Linux has no such
    // placeholders, so it is never set here.
    bool dataless;
};

// What the readers have found that the visitor has not met yet: visits come
// in one order, so a reader held by a slow folder holds back every visit
// after it, though the other readers go on finding entries.
struct PLDiskAhead {
    std::uint64_t entries = 0;
    std::uint64_t files = 0;           // readable regular files among them
    std::uint64_t allocatedBytes = 0;  // of those files with a single link (others are counted when met)
};

struct PLDiskWalkOptions {
    bool skipPrivacy = false;  // leave the privacy-protected folders out
    PLPrivacyFolders privacy;  // with skipPrivacy, where they are
    int threads = 1;           // reader threads; the calling thread only waits and visits
    std::stop_token stop;      // ends the walk at once, also while a reader is blocked on a slow folder
    // Kept until the last reader has left, after the walk has returned when
    // one was held in a call that no stop ends: its owner learns when
    // nothing of the walk is in the file system any more.
    std::shared_ptr<const void> keepWhileReading;
};

}  // namespace corvalent
