#pragma once

// What the Trash executor records of an item and checks again at the moment
// of acting: its identity from lstat of the item itself, reached without
// following a symbolic link.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "core/disk/disk.h"
#include "core/disk/trash/disk_trash_refusals.h"

namespace corvalent {

// What an item looked like when it was examined (lstat of the item itself).
struct DiskItemIdentity {
    std::string path;  // normalised absolute path
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint16_t mode = 0;
    std::uint32_t owner = 0;

    // Throws DiskTrashError: a missing item, a link anywhere on the path, or
    // anything that is neither a regular file nor a folder.
    static DiskItemIdentity capture(std::string_view path);

    bool isDirectory() const;
    // Equal but for the path: the same item, wherever it now lies.
    bool sameItemAs(const DiskItemIdentity& other) const;
    bool operator==(const DiskItemIdentity&) const = default;
};

// What was recorded of an item before the review (the item itself, or
// another that its move relies on) and must still hold at the move; a
// difference, or the item gone, refuses the move with `refusal`. Only what
// was recorded is compared: the kind, device and inode always, the other
// fields as `fields` says, and the change time when there is one. The change
// time (st_ctim) is the one no user can set back: an item edited in place at
// the same size, its modification time put back, has a later one.
struct DiskRecordedIdentity {
    struct Fields {
        bool size = true;
        bool modified = true;
        bool permissions = true;  // the mode beside the kind
        bool owner = true;
        bool operator==(const Fields&) const = default;
    };

    DiskItemIdentity identity;
    DiskTrashError::Kind refusal = DiskTrashError::Kind::identityChanged;
    Fields fields = {};
    std::optional<DiskFileTime> changed = std::nullopt;

    // What a scan measured of the item at `path`: a file's size and
    // modification time, no permissions or owner, and of a folder neither its
    // size nor its time, which follow what it holds.
    static DiskRecordedIdentity scanned(std::string path, const DiskScannedItem& item);
    // Everything of the item at `path` as it is now, its change time included;
    // throws as DiskItemIdentity::capture does.
    static DiskRecordedIdentity capture(std::string_view path);
    bool operator==(const DiskRecordedIdentity&) const = default;
};

// An item as the executor's checks look at it: its path and lstat record,
// found here or by a helper.
struct DiskItemExamined {
    std::string path;
    struct stat info {};

    // The item at `path` normalised, reached from "/" without links: a
    // regular file or a folder. Throws as DiskItemIdentity::capture does.
    static DiskItemExamined at(std::string_view path);

    DiskItemIdentity identity() const;
    DiskFileTime changed() const;
    // Still what was recorded of it, in what was recorded.
    bool matches(const DiskRecordedIdentity& record) const;
};

}  // namespace corvalent
