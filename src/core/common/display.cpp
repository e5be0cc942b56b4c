#include "core/common/display.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace corvalent::Display {
namespace {

std::string fixed(double value, int decimals, std::string_view unit)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string out(text, result.ptr);
    out += unit;
    return out;
}

// Far beyond any real age, and small enough that every conversion below is exact.
constexpr double longestAge = 1e12;

}  // namespace

std::string bytes(std::uint64_t bytes)
{
    constexpr std::uint64_t gibibyte = 1ULL << 30;
    const auto value = static_cast<double>(bytes);
    if (bytes >= gibibyte) return fixed(value * (1.0 / static_cast<double>(gibibyte)), 1, " GB");
    return fixed(value * (1.0 / static_cast<double>(1ULL << 20)), 0, " MB");
}

std::string age(double seconds)
{
    if (!(seconds >= 60.0)) return "just started";  // NaN lands here too
    const auto whole = static_cast<std::int64_t>(std::fmin(seconds, longestAge));
    if (whole < 3'600) return std::to_string(whole / 60) + "m";
    if (whole < 86'400) return std::to_string(whole / 3'600) + "h " + std::to_string(whole % 3'600 / 60) + "m";
    return std::to_string(whole / 86'400) + "d " + std::to_string(whole % 86'400 / 3'600) + "h";
}

}  // namespace corvalent::Display
