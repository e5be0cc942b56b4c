#pragma once

// The freedesktop.org Trash (version 1.0 of that standard), written here
// because the toolkit's own can loop forever when the info file cannot be
// created.
//
// An item on the home folder's file system goes to $XDG_DATA_HOME/Trash;
// any other to $topdir/.Trash/$uid (when .Trash is a sticky folder that is
// no link) or else $topdir/.Trash-$uid. The info file is written first with
// O_EXCL, then the item is moved with RENAME_NOREPLACE: nothing is ever
// replaced, and a failure leaves the item where it was with no info file.

#include <string>
#include <string_view>

namespace corvalent::FreedesktopTrash {

struct Placement {
    std::string trashedPath;  // <trash>/files/<name>
    std::string infoPath;     // <trash>/info/<name>.trashinfo
};

// Throws DiskTrashError (unavailable, with the system's text) on failure.
Placement moveToTrash(const std::string& path, bool isDirectory);

// Moves a trashed item back without replacing anything; a folder needs a
// file system that can rename without replacing. Throws destinationExists
// when something is at `originalPath`, unavailable on other failures.
void moveBack(const std::string& trashedPath, const std::string& originalPath, bool isDirectory);

// Removes the info file of a restored item, only when it is a regular file
// whose Path= names `originalPath`.
void removeInfo(const std::string& trashedPath, const std::string& originalPath);

// Path= values: RFC 2396 escaping of everything but unreserved bytes and "/".
std::string percentEncoded(std::string_view path);
std::string percentDecoded(std::string_view text);

}  // namespace corvalent::FreedesktopTrash
