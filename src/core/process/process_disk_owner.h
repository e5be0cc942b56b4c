#pragma once

// Where the process engine meets the disk side: a running process group as an
// owner of storage. Neither side includes the other; this unit knows both.

#include <string_view>

#include "core/disk/disk_ownership.h"
#include "core/process/processes.h"

namespace corvalent {

// A working folder that holds the home folder (the home itself, any folder
// above it, "/") claims nothing: the desktop session and its shells and
// terminals work there, and would otherwise own everything in the home.
DiskProcessOwner diskProcessOwner(const ProcessGroup& group, std::string_view home);
DiskProcessOwner diskProcessOwner(const ProcessGroup& group);  // with Paths::homeFolder()

}  // namespace corvalent
