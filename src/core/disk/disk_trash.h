#pragma once

// The only code that changes the file system: it moves one reviewed item to
// the Trash and puts it back. It never deletes, never follows a symbolic
// link, and checks the item again at the moment of acting.
//
// The Trash is the freedesktop.org one: the home trash for items on the home
// folder's file system, else the trash at the top of the item's file system.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/disk/disk_insights.h"

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

class DiskTrashError : public std::runtime_error {
public:
    enum class Kind {
        unavailable,
        protectedPath,
        symbolicLink,
        wrongOwner,
        unsupportedItem,
        identityChanged,
        destinationExists,
        duplicateSetChanged,
        mountedInside,
        invalidName,  // a path that is not text: it could only have been reviewed under a lossy spelling
        notAnswering,  // another item the move relies on was not seen in time: its disk does not answer
        // Moved, but into a folder that had moved away meanwhile (its own
        // folder on a restore, the Trash's on a move): the sentence says where
        // that folder is now.
        landedElsewhere,
    };

    // The kind with its own sentence.
    explicit DiskTrashError(Kind kind);
    // The kind with a sentence of its own: one that names the item, or a restore's.
    DiskTrashError(Kind kind, const std::string& message);
    static DiskTrashError unavailable(std::string message);

    Kind kind() const { return kind_; }
    bool operator==(const DiskTrashError& other) const
    {
        return kind_ == other.kind_ && std::string_view(what()) == std::string_view(other.what());
    }

private:
    Kind kind_;
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

// A re-checked candidate with the identity the user reviewed.
struct DiskTrashRequest {
    DiskCleanupCandidate candidate;
    DiskItemIdentity identity;
    // Checked together with the item, immediately before it moves.
    std::vector<DiskRecordedIdentity> recorded = {};
    bool operator==(const DiskTrashRequest&) const = default;
};

// One completed move: everything needed to undo it.
struct DiskTrashReceipt {
    std::string id;  // a new random UUID
    std::string originalPath;
    std::string trashedPath;
    std::string name;
    std::uint64_t bytes = 0;  // as the scan measured it; 0 for an item it never measured
    std::chrono::system_clock::time_point movedAt;
    DiskItemIdentity trashedIdentity;
    std::string infoPath;  // the info file written for the item
    // What is in the Trash is not the reviewed item: it changed between the
    // last check and the move, and its place was taken again before it could
    // go back. The receipt keeps it undoable.
    bool changedAfterReview = false;
    bool operator==(const DiskTrashReceipt&) const = default;
};

// Run between the last check and the rename, and right after the rename:
// tests race another process against a move or a restore through them.
struct DiskTrashHooks {
    std::function<void()> beforeRename = {};
    std::function<void()> afterRename = {};
};

namespace DiskTrashExecutor {

// When the user opens the confirmation: checks the item and pins its
// identity. The item must still be of the candidate's kind, and what the scan
// measured of it, which the request carries on to the move.
DiskTrashRequest prepare(const DiskCleanupCandidate& candidate);
// The checks that must hold immediately before a move.
void validate(const DiskTrashRequest& request);
// Moves the prepared item to the Trash. Refuses, leaving everything as it
// was, when the item is no longer the one that was prepared. Should another
// item arrive in the Trash in its place and be unable to go back, the
// receipt for it says so (changedAfterReview). Should the Trash folder move
// away while the item goes in, the item goes back; when it cannot,
// landedElsewhere says where it is.
DiskTrashReceipt moveToTrash(const DiskTrashRequest& request);
DiskTrashReceipt moveToTrash(const DiskTrashRequest& request, const DiskTrashHooks& hooks);
// Puts the item back where it was; never replaces anything found there, and
// never puts it anywhere but the folder it came from. Should that folder move
// away while the item goes back, and the item be unable to return to the
// Trash, it stays in that folder: its info file goes, and landedElsewhere
// says where the folder is now.
void restore(const DiskTrashReceipt& receipt);
void restore(const DiskTrashReceipt& receipt, const DiskTrashHooks& hooks);

// The helper a move's last check starts for the other items the move relies
// on (DiskItemsApart::helperFlag): looks at each of `paths` as a capture
// does and prints what it found. Returns the exit status.
int printExamined(int count, char** paths);

}  // namespace DiskTrashExecutor
}  // namespace corvalent
