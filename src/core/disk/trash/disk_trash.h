#pragma once

// The only code that changes the file system: it moves one reviewed item to
// the Trash and puts it back. It never deletes, never follows a symbolic
// link, and checks the item again at the moment of acting.
//
// The Trash is the freedesktop.org one: the home trash for items on the home
// folder's file system, else the trash at the top of the item's file system.
// The checks (prepare, validate), the move and the restore each have a file
// of their own: disk_trash_checks.cpp, disk_trash_move.cpp, disk_trash_restore.cpp.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/disk/disk_insights.h"
#include "core/disk/trash/disk_item_identity.h"
#include "core/disk/trash/disk_trash_refusals.h"

namespace corvalent {

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
