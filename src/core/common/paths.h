#pragma once

// Path text shared by the disk engines: the home folder, standardising,
// containment, lower-casing for rules, and where the Trash folders are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <sys/types.h>

#include "bridge/mount_table.h"

namespace corvalent::Paths {

// Absolute (a relative path is taken against the current folder), "." and
// ".." resolved, no trailing slash; links are not followed.
std::string standardized(std::string_view path);

// The user's home folder as the file manager means it: $HOME, else the
// account database; standardized.
std::string homeFolder();

// The folder a path names and the name in it: "." for a bare name, "/"
// for a name at the top.
std::pair<std::string, std::string> folderAndName(std::string_view path);

// `path` equals `folder` or lies inside it; both standardized.
using corvalent::isAtOrBelow;
// `path` lies inside `folder`, not the folder itself.
bool isBelow(std::string_view path, std::string_view folder);

// The Unicode default lower-case mapping, independent of the locale.
std::string lowerCased(std::string_view text);

// The home Trash: $XDG_DATA_HOME/Trash when XDG_DATA_HOME is absolute, else
// <home>/.local/share/Trash; standardized, links not resolved.
std::string homeTrash(std::string_view home);
std::string homeTrash();

// The Trash folders at the top of a file system other than the home one:
// "<top>/.Trash/<uid>" when an administrator made "<top>/.Trash", else
// "<top>/.Trash-<uid>".
inline constexpr std::string_view sharedTrashName = ".Trash";
std::string sharedTrashFolder(std::string_view top, uid_t uid);
std::string ownTrashFolder(std::string_view top, uid_t uid);

// `path` standardized, with symbolic links resolved as far as it exists and
// the rest as it stands; `path` standardized when that fails.
std::string resolved(std::string_view path);

// The home folder and the home Trash, each in two spellings: as the
// environment names them ($HOME, $XDG_DATA_HOME) and where they really are,
// links resolved. A scan's paths are real ones while the environment may
// reach the home through a link (/home a link to /var/home): a path is
// compared with both. Links are resolved once, when the value is made, and
// the Trash folder and its files folder, whose place that has just looked
// at, are looked at once more for their device and inode: a third spelling,
// through a bind mount of the home or of the Trash itself, names the same
// folder.
class Home {
public:
    // The home folder `named`, its Trash as homeTrash(named) names it.
    explicit Home(std::string_view named);
    // The home folder homeFolder() names.
    static Home current();

    const std::string& named() const { return named_; }
    const std::string& real() const { return real_; }

    // What follows the home folder in `path` (standardized), in whichever
    // spelling `path` has: "" for the home itself, "/Documents/a" below it;
    // nothing outside it. A home of "/" holds only itself.
    std::optional<std::string_view> within(std::string_view path) const;
    // `path` (standardized) where it really is: below the home its text is
    // rewritten against real(), elsewhere it stays as written. Nothing on the
    // disk is looked at, so a folder that is, or links into, a share that
    // does not answer never holds the caller.
    std::string realSpelling(std::string_view path) const;
    // `path` (standardized) is the home Trash or lies inside it, in either spelling.
    bool holdsInTrash(std::string_view path) const;
    // The home folder is `folder` (standardized) or lies inside it, in either spelling.
    bool isAtOrBelow(std::string_view folder) const;
    // The folder with this device and inode is the home Trash or its files
    // folder, in any spelling; false for one that did not exist when the
    // value was made.
    bool isTrash(std::uint64_t device, std::uint64_t inode) const;

private:
    std::string named_;
    std::string real_;
    std::string trash_;
    std::string realTrash_;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> trashInode_;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> trashFilesInode_;
};

// `path` (standardized) is a Trash folder or lies inside one, by its text
// alone: the home Trash of `home` in either spelling, any home's Trash
// (".local/share/Trash" anywhere in the path), or any user's Trash at the top
// of any file system (".Trash-<uid>", ".Trash/<uid>").
bool isInTrash(std::string_view path, const Home& home);
// As above, or at or below one of `trashFolders` (standardized): folders
// found to be the home Trash by their device and inode under another name,
// as a scan lists them (DiskScanResult::trashFolders).
bool isInTrash(std::string_view path, const Home& home, const std::vector<std::string>& trashFolders);

}  // namespace corvalent::Paths
