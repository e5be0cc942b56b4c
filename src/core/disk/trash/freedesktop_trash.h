#pragma once

// The freedesktop.org Trash (version 1.0 of that standard), written here
// because the toolkit's own can loop forever when the info file cannot be
// created.
//
// An item on the home Trash's file system goes there; any other to the
// Trash at the top of its own file system (see Paths). The info file is
// written first with O_EXCL, then the item is moved with RENAME_NOREPLACE:
// nothing is ever replaced, and a failure leaves the item where it was with
// no info file. Items move between folders held open, never by path, so a
// folder swapped for a link after it was opened is never reached.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "bridge/file_descriptor.h"

namespace corvalent::FreedesktopTrash {

// A failure of the system; what() is its text for the errno value.
class Error : public std::runtime_error {
public:
    explicit Error(int code);
    int code() const { return code_; }

private:
    int code_;
};

// A folder held open, reached from "/" without following any link: ELOOP
// when a link is on the way (the folder itself included), ENOTDIR when a
// component is no folder. Opened as a place only (O_PATH): a folder the
// user may not list can still be held.
class Folder {
public:
    // openat2 with RESOLVE_NO_SYMLINKS; one component at a time
    // (LinkFreeWalk) where the kernel has no openat2.
    static Folder open(const std::string& path);
    static Folder openStepByStep(const std::string& path);

    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    // lstat of an entry, or of the folder itself when `name` is empty.
    std::optional<struct stat> stat(const std::string& name = {}) const;
    bool sameFolderAs(const Folder& other) const;

private:
    Folder(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
    FileDescriptor fd_;
    std::string path_;
};

struct Placement {
    std::string trashedPath;  // <trash>/files/<name>
    std::string infoPath;     // <trash>/info/<name>.trashinfo
    Folder files;             // holds the item under `name`
    Folder info;
    std::string name;
};

// Moves `name` from `parent` to the Trash. Its name in the Trash is its own,
// made unique and short enough for the info file's name; Path= always holds
// the full original path. A mount point is refused (EBUSY) before any Trash
// folder is made. `beforeRename` runs once the info file is written, right
// before the item is renamed.
Placement moveToTrash(const Folder& parent, const std::string& name, const std::function<void()>& beforeRename = {});

// Renames without replacing anything: 0, else the errno value (EEXIST when
// the new name is taken). Where the file system cannot rename without
// replacing, a file is linked and unlinked instead; a folder is refused
// (EINVAL).
int moveNoReplace(const Folder& from, const std::string& name, const Folder& to, const std::string& newName);

// Puts an item that has just arrived back at `name` in `parent` and removes
// its info file: 0, else the errno value (the item then stays in the Trash
// with its info file).
int putBack(const Placement& placement, const Folder& parent, const std::string& name);

// Removes an info file this program wrote, when it is still a regular file.
void removeInfo(const std::string& infoPath);

// Path= values: RFC 2396 escaping of everything but unreserved bytes and "/".
std::string percentEncoded(std::string_view path);

}  // namespace corvalent::FreedesktopTrash
