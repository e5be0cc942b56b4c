#pragma once

// Where the process engine meets the disk side: a running process group as an
// owner of storage. Neither side includes the other; this unit knows both.

#include "core/common/paths.h"
#include "core/disk/disk_ownership.h"
#include "core/process/processes.h"

namespace corvalent {

// A working folder that holds the home folder (the home itself, any folder
// above it, "/") claims nothing: the desktop session and its shells and
// terminals work there, and would otherwise own everything in the home. The
// home is compared in both its spellings: it may be named through a link.
DiskProcessOwner diskProcessOwner(const ProcessGroup& group, const Paths::Home& home);
DiskProcessOwner diskProcessOwner(const ProcessGroup& group);  // with Paths::Home::current()

}  // namespace corvalent
