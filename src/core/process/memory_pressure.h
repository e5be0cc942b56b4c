#pragma once

// How hard the system presses on memory, from the bridge's level to the tint
// a page gives it.

#include <cstdint>

namespace corvalent {

// The values are the bridge's levels (pl_memory_pressure).
enum class MemoryPressure : std::int32_t { unavailable = 0, normal = 1, elevated = 2, critical = 4 };

// A level the bridge does not define reads as unavailable.
constexpr MemoryPressure memoryPressureFromLevel(std::int32_t level)
{
    switch (level) {
    case 1: return MemoryPressure::normal;
    case 2: return MemoryPressure::elevated;
    case 4: return MemoryPressure::critical;
    default: return MemoryPressure::unavailable;
    }
}

}  // namespace corvalent
