#pragma once

// The sentences the Trash executor refuses with when the system said no: each
// names the item or its folder and says what is wrong, the system's own text
// after it in brackets. A restore says what keeps the item from going back.

#include <string>
#include <string_view>

#include "core/disk/disk_trash.h"

namespace corvalent::DiskTrashRefusals {

// A name as the window shows it, in quotation marks: bytes that are no UTF-8 become U+FFFD.
std::string quoted(std::string_view text);
// `reason`, the system's own words for `error` after it in brackets.
std::string withSystemText(const std::string& reason, int error);

// Looking at `running`, the item at `path` or a folder on the way to it, failed with `error`.
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

}  // namespace Restore
}  // namespace corvalent::DiskTrashRefusals
