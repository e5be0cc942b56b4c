#pragma once

// The read-only directory walk of a disk scan: the only code that touches the
// file system while a scan runs. It never follows symbolic links, never leaves
// the root's file system and never opens a file.
//
// Folders are read by reader threads, each opened relative to a folder above
// it, one name at a time and never through a link, so a folder swapped for a
// link while the walk runs is never followed and no path length limits how
// deep the walk goes. The walk holds a bounded share of the open-file limit
// whatever the tree's shape, and waits for a descriptor rather than call a
// folder unreadable when the process runs out of them. Entries reach the
// visitor one at a time, on the calling thread, in one fixed order: a folder,
// then what it holds in the order the file system lists it, each subfolder's
// contents before the next entry. Any thread count gives the same visits.
//
// The calling thread never calls into the file system itself: it waits for
// the readers and visits. A stop therefore returns at once, also while a
// reader is blocked on a slow or hung file system; that reader finishes on
// its own once its call returns, and frees what the walk left behind.
//
// The points where other file systems are mounted below the root are known
// from the mount table, and are neither entered nor described: asking a dead
// share about its root would hold the reader that asked.

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/disk_walk_values.h"

namespace corvalent {

// Counts of one walk; zeroed and filled by pl_walk_disk. Counters saturate.
struct PLDiskScanStats {
    std::uint64_t entries;         // every entry seen once; the root counts
    std::uint64_t inaccessible;    // unreadable folders and entries without metadata; 1 when the walk cannot start
    std::uint64_t privacySkipped;  // privacy-protected folders left out
    std::int32_t cancelled;        // 1 when the visitor or the stop token ended the walk
};

class PLDiskVisitor {
public:
    virtual ~PLDiskVisitor() = default;
    // Every entry once, in walk order. Returns false to stop the walk.
    virtual bool visit(const PLDiskEntry& entry) = 0;
    // After every 2,048th entry (`entries` visited so far). Returns false to stop the walk.
    virtual bool tick(std::uint64_t /*entries*/, const PLDiskAhead& /*ahead*/) { return true; }
    // About every tenth of a second while the next visit waits for a reader.
    // Returns false to stop the walk.
    virtual bool waiting(std::uint64_t /*entries*/, const PLDiskAhead& /*ahead*/) { return true; }
};

// Walks `root` (an absolute path; a link there is followed, links below it
// never are). Returns 0 when the walk completed or was stopped (a root that
// cannot be read is one inaccessible entry), EINVAL for a null or empty
// `root`, otherwise the errno that ended the walk: EAGAIN when not one reader
// thread could be started.
std::int32_t pl_walk_disk(const char* root, const PLDiskWalkOptions& options, PLDiskVisitor& visitor,
                          PLDiskScanStats& stats);

}  // namespace corvalent
