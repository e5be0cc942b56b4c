#pragma once

// The folders one folder holds, for a folder chooser: read with getdents64,
// each entry's kind from the listing itself where the file system gives it.
// Like the walk, it never describes or enters the point where another file
// system is mounted (asking a dead share about its root would hold the
// caller for good), and follows a link only while it stays on the listed
// folder's file system.

#include <cstdint>
#include <string>
#include <vector>

namespace corvalent {

enum class PLFolderKind : std::uint8_t {
    folder,
    linkedFolder,  // a link to a folder on the same file system
    mountPoint,    // another file system is mounted here; not looked at
    elsewhere,     // a link that leads onto another file system; not looked at
};

struct PLFolderEntry {
    std::string name;  // raw bytes
    PLFolderKind kind = PLFolderKind::folder;

    bool operator==(const PLFolderEntry&) const = default;
};

struct PLFolderListing {
    std::int32_t error = 0;  // errno when the folder could not be opened or read
    std::vector<PLFolderEntry> entries;  // in the order the file system lists them
};

// Lists `path` (absolute; a link there is followed). Touches the file system
// that holds `path` only.
PLFolderListing pl_list_folders(const char* path);

}  // namespace corvalent
