#pragma once

// The kernel's mount table (/proc/self/mountinfo), read by the walk and by
// the volume list, and where a path lies among its mounts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvalent {

// One line of /proc/self/mountinfo.
struct MountEntry {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string root;        // the folder of the file system mounted here
    std::string mountPoint;  // unescaped
    std::string fileSystem;
    std::string source;      // unescaped
    std::uint64_t id = 0;      // the mount's id
    std::uint64_t parent = 0;  // the id of the mount it sits on

    bool operator==(const MountEntry&) const = default;
};

std::vector<MountEntry> parseMountInfo(std::string_view text);

// The whole text of an open mount table; nothing when it cannot be read.
std::optional<std::string> readMountInfo(int file);

// The path of an open file or folder as the kernel spells it, links
// resolved: the table's spelling. Read from its descriptor, so nothing asks
// its file system. Empty when unknown.
std::string pathOfOpen(int descriptor);

// The mount that holds `path` (absolute, spelled as the table spells it):
// the one with the longest mount point at or above it, the later of two on
// one point (it hides the earlier). Null when none does.
const MountEntry* mountHolding(const std::vector<MountEntry>& table, std::string_view path);

// A mount point lies at or below the folder `path` (absolute, the table's
// spelling) that mount `mountId` holds (0 when unknown: the one mountHolding
// names). Two ways: the table lists a mount there, or a mount sits on the
// same file system at or below that folder, reached through another mount
// of it (a bind mount elsewhere): renaming the folder carries it along.
bool holdsMountPoint(const std::vector<MountEntry>& table, std::string_view path, std::uint64_t mountId);

// `path` equals `folder` or lies inside it; both absolute, without a
// trailing slash ("/" itself aside).
bool isAtOrBelow(std::string_view path, std::string_view folder);

// A field of the table, which writes a space, tab, newline or backslash as
// "\ooo", as the text it stands for.
std::string unescapedMountField(std::string_view text);

}  // namespace corvalent
