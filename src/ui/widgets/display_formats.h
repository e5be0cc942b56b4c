#pragma once

// How sizes and counts read wherever a page shows them, so that one figure
// reads the same on the overview and in Disk Space.

#include <QString>

#include <cstdint>

#include "core/process/memory_pressure.h"

namespace corvalent {

// Display::bytes as text.
QString bytesText(std::uint64_t bytes);
// "1,234": counts are grouped the English way whatever the process locale.
QString groupedCount(std::int64_t count);
// "Normal", "Elevated", "Critical" or "Unavailable".
QString memoryPressureText(MemoryPressure pressure);

}  // namespace corvalent
