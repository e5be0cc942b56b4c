#pragma once

#include <cstdint>
#include <string>

// Byte counts and ages as every view shows them. The output never depends on
// the process locale.
namespace corvalent::Display {

// "1.5 GB" from 2^30 bytes up, else whole "MB"; binary units, no KB or TB step.
std::string bytes(std::uint64_t bytes);

// "just started", "12m", "2h 5m" or "3d 4h". Negative, NaN and infinite
// inputs are clamped, never converted as they are.
std::string age(double seconds);

}  // namespace corvalent::Display
