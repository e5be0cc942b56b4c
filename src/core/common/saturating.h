#pragma once

// Byte and entry counters never wrap: sums stop at the largest value and
// differences of byte figures floor at 0.

#include <cstdint>
#include <limits>

namespace corvalent {

constexpr std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// Counts are signed; they stop at the largest signed value.
constexpr std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    return b > std::numeric_limits<std::int64_t>::max() - a ? std::numeric_limits<std::int64_t>::max() : a + b;
}

constexpr std::uint64_t flooredDifference(std::uint64_t a, std::uint64_t b)
{
    return a > b ? a - b : 0;
}

// An unsigned counter as a signed count, capped at the largest signed value.
constexpr std::int64_t cappedCount(std::uint64_t count)
{
    return count > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(count);
}

}  // namespace corvalent
