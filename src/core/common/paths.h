#pragma once

// Path text shared by the disk engines: the home folder, standardising,
// containment, lower-casing for rules, and where the Trash folders are.

#include <string>
#include <string_view>
#include <sys/types.h>

#include "bridge/mount_table.h"

namespace corvalent::Paths {

// Absolute (a relative path is taken against the current folder), "." and
// ".." resolved, no trailing slash; links are not followed.
std::string standardized(std::string_view path);

// The user's home folder as the file manager means it: $HOME, else the
// account database; standardized.
std::string homeFolder();

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

// `path` (standardized) is a Trash folder or lies inside one: the home Trash
// of `home`, or any user's Trash at the top of any file system.
bool isInTrash(std::string_view path, std::string_view home);

}  // namespace corvalent::Paths
