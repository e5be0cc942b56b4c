#pragma once

// The mount points below a walk's root, from the mount table. A walk never
// enters another file system, and never looks at the point where one is
// mounted either: describing it asks that file system, and a dead network
// share or a hung FUSE server would hold the reader that asked.

#include <cstdint>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/mount_table.h"

namespace corvalent::walk {

// One name on the way from the root down to a mount point.
struct MountPlace {
    bool mountPoint = false;       // something is mounted here
    bool otherFileSystem = false;  // ... and it is not the root's file system
    std::uint64_t device = 0;      // the mounted file system's, as the table gives it
    std::map<std::string, std::unique_ptr<MountPlace>, std::less<>> below;

    // The place of `name` inside this one; null when no mount lies there or below it.
    const MountPlace* find(std::string_view name) const
    {
        const auto found = below.find(name);
        return found == below.end() ? nullptr : found->second.get();
    }
};

// The mount points strictly below `root` (a path as the kernel spells it)
// in `table` (the text of /proc/self/mountinfo), as a tree of names. A mount
// is of another file system when its device differs from that of the mount
// holding the root. Null when none lies below the root.
std::unique_ptr<MountPlace> mountsBelow(std::string_view table, std::string_view root);
// The same from the table already parsed.
std::unique_ptr<MountPlace> mountsBelow(const std::vector<MountEntry>& table, std::string_view root);

// The mount points below the open folder `root`, read from this process's
// mount table; null when there are none or the table cannot be read.
// Waits for a descriptor when none is free; gives up when `stop` asks.
std::unique_ptr<MountPlace> mountsBelowFolder(int root, const std::stop_token& stop);

}  // namespace corvalent::walk
