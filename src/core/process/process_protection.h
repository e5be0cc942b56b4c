#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvalent {

// Why a process may never be stopped. The raw values are the bridge's codes.
enum class ProcessProtection : std::int32_t {
    none = 0,
    systemIdentity = 1,
    corvalent = 2,
    otherUser = 3,
    unknownIdentity = 4,
    criticalService = 5,
    securityTool = 6,
    restrictedLocation = 7,
};

// The case for a code of 0...7; nothing for any other value.
std::optional<ProcessProtection> processProtectionFromRaw(std::int32_t raw);

constexpr std::int32_t rawValue(ProcessProtection protection)
{
    return static_cast<std::int32_t>(protection);
}

// The fixed reason shown to the user.
std::string_view explanation(ProcessProtection protection);

}  // namespace corvalent
