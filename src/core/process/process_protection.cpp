#include "core/process/process_protection.h"

namespace corvalent {

std::optional<ProcessProtection> processProtectionFromRaw(std::int32_t raw)
{
    if (raw < rawValue(ProcessProtection::none) || raw > rawValue(ProcessProtection::restrictedLocation))
        return std::nullopt;
    return static_cast<ProcessProtection>(raw);
}

std::string_view explanation(ProcessProtection protection)
{
    switch (protection) {
    case ProcessProtection::none: return "Available to stop";
    case ProcessProtection::systemIdentity: return "Core system process";
    case ProcessProtection::corvalent: return "Corvalent cannot stop itself";
    case ProcessProtection::otherUser: return "Owned by another user";
    case ProcessProtection::unknownIdentity: return "Executable identity is unavailable";
    case ProcessProtection::criticalService: return "Critical system service";
    case ProcessProtection::securityTool: return "Security software stays read-only";
    case ProcessProtection::restrictedLocation: return "Executable location is not approved";
    }
    return "Executable location is not approved";
}

}  // namespace corvalent
