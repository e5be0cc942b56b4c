#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/process/processes.h"

namespace corvalent {

// The prepared process view of one sample: records with CPU shares, the
// groups in four variants and the stoppable records by id.
struct ProcessSnapshot {
    ScanResult result;
    std::vector<ProcessGroup> groups;                 // all users
    std::vector<ProcessGroup> userGroups;             // the current user's
    std::vector<ProcessGroup> unprotectedGroups;      // groups without protected members
    std::vector<ProcessGroup> unprotectedUserGroups;  // userGroups without protected members
    std::unordered_map<std::string, ProcessRecord> eligible;  // stoppable records of `groups`
    double preparationMS = 0;
    std::uint64_t applicationsStamp = 0;  // of the application index the groups were made with

    // When nothing that decides grouping changed since `previous` (the
    // application index included), its groups are refreshed with the new
    // figures instead of classified again.
    static ProcessSnapshot make(ScanResult result, const ProcessSnapshot* previous,
                                const ApplicationIndex& applications = {});
};

}  // namespace corvalent
