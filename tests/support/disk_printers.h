#pragma once

// Readable failures for the disk engine's values: names, not numbers.

#include <ostream>

#include "core/disk/disk_duplicates.h"

namespace corvalent {

inline void PrintTo(DiskDuplicateCopyRole role, std::ostream* out)
{
    switch (role) {
    case DiskDuplicateCopyRole::keep: *out << "keep"; return;
    case DiskDuplicateCopyRole::review: *out << "review"; return;
    case DiskDuplicateCopyRole::protected_: *out << "protected"; return;
    }
    *out << "role " << static_cast<int>(role);
}

}  // namespace corvalent
