#pragma once

// The Trash's error and every sentence it says: each kind's own sentence,
// and the refusals made when the system said no, each naming the item or
// its folder and saying what is wrong, the system's own text after it in
// brackets. A restore says what keeps the item from going back.

#include <stdexcept>
#include <string>
#include <string_view>

namespace corvalent {

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

}  // namespace corvalent

namespace corvalent::DiskTrashRefusals {

// A name as the window shows it, in quotation marks: bytes that are no UTF-8 become U+FFFD.
std::string quoted(std::string_view text);
// `reason`, the system's own words for `error` after it in brackets.
std::string withSystemText(const std::string& reason, int error);

// A refusal as the window says it, the item `name` named first unless the
// sentence already names it: a move's ("can't be moved to Trash") and a
// restore's ("can't go back").
std::string moveRefused(std::string_view refusal, std::string_view name);
std::string restoreRefused(std::string_view refusal, std::string_view name);

// Looking at `running`, the item at `path` or a folder on the way to it,
// failed with `error`; ELOOP: `running` is a symbolic link.
DiskTrashError unreachable(const std::string& path, const std::string& running, int error);
// The folder of the item at `path` could not be held (an error of FreedesktopTrash::Folder::open).
DiskTrashError folderUnreachable(const std::string& path, int error);
// The item at `path` could not go to the Trash; `folderWritable` tells a
// folder the user may not change from a Trash they may not write to.
DiskTrashError notMoved(const std::string& path, int error, bool folderWritable);
// The mount table could not be read, so what is mounted inside the folder at `path` is not known.
DiskTrashError mountTableUnreadable(const std::string& path, int error);
// The item's path is not text (the last name, or a folder's on the way).
DiskTrashError nameNotText(const std::string& path);
// The item at `path`, one the move relies on, was not seen in time: its disk does not answer.
DiskTrashError notAnswering(const std::string& path);
// The Trash folder `trashFolder` was moved away while the item at `path`
// went in: the item went back (trashMoved), or could not and is in that
// folder, now at `folderNow` (empty when unknown).
DiskTrashError trashMoved(const std::string& path, const std::string& trashFolder);
DiskTrashError trashedElsewhere(const std::string& path, const std::string& trashFolder, const std::string& folderNow);

namespace Restore {

// What a refused restore adds where the item stays in the Trash.
std::string stillInTrash();
// Something new is at the item's original place.
DiskTrashError placeTaken(std::string_view name);
// The copy in the Trash is gone (ENOENT, ENOTDIR), not what was moved, or out of reach.
DiskTrashError copyGone(std::string_view name);
DiskTrashError copyChanged(std::string_view name);
DiskTrashError copyUnreachable(std::string_view name, int error);
// The original folder could not be held (an error of FreedesktopTrash::Folder::open).
DiskTrashError folderUnreachable(std::string_view name, const std::string& folder, int error);
DiskTrashError folderNotOwned(std::string_view name, const std::string& folder);
DiskTrashError folderReadOnly(std::string_view name, const std::string& folder);
// The folder held is no longer the one its path leads to.
DiskTrashError folderReplaced(std::string_view name, const std::string& folder);
// The rename back failed with `error` (other than the place being taken).
DiskTrashError notPutBack(std::string_view name, const std::string& folder, int error);
// The item left the Trash into its folder, which was moved away from
// `folder` meanwhile and is now at `folderNow` (empty when unknown).
DiskTrashError landedElsewhere(std::string_view name, const std::string& folder, const std::string& folderNow);

}  // namespace Restore
}  // namespace corvalent::DiskTrashRefusals
