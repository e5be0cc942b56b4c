#pragma once

// The freedesktop.org Trash (version 1.0 of that standard), written here
// because the toolkit's own can loop forever when the info file cannot be
// created.
//
// An item on the home Trash's file system goes there; any other to the
// Trash at the top of its own file system (see Paths). The info file is
// written first with O_EXCL, then the item is moved with RENAME_NOREPLACE:
// nothing is ever replaced, and a failure leaves the item where it was with
// no info file.

#include <stdexcept>
#include <string>
#include <string_view>

namespace corvalent::FreedesktopTrash {

// A failure of the system; what() is its text for the errno value.
class Error : public std::runtime_error {
public:
    explicit Error(int code);
    int code() const { return code_; }

private:
    int code_;
};

struct Placement {
    std::string trashedPath;  // <trash>/files/<name>
    std::string infoPath;     // <trash>/info/<name>.trashinfo
};

// Moves an item that is neither a link nor reached through one. Its name in
// the Trash is its own, made unique and short enough for the info file's
// name; Path= always holds the full original path. A mount point is refused
// (EBUSY) before any Trash folder is made.
Placement moveToTrash(const std::string& path, bool isDirectory);

// Moves a trashed item back without replacing anything; a folder needs a
// file system that can rename without replacing. EEXIST when something is
// at `originalPath`.
void moveBack(const std::string& trashedPath, const std::string& originalPath, bool isDirectory);

// Removes the info file of a restored item, only when it is a regular file
// whose Path= names `originalPath`.
void removeInfo(const std::string& trashedPath, const std::string& originalPath);

// Path= values: RFC 2396 escaping of everything but unreserved bytes and "/".
std::string percentEncoded(std::string_view path);
std::string percentDecoded(std::string_view text);

}  // namespace corvalent::FreedesktopTrash
