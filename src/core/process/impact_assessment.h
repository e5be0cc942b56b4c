#pragma once

// What stopping a selection of processes will do, group by group, as the
// impact review shows it before anything is signalled.

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/process/processes.h"

namespace corvalent {

// One process group that holds selected processes.
struct SelectedImpactGroup {
    std::string id;
    std::string title;
    std::string impact;
    bool isApplication = false;
    int selectedCount = 0;   // selected stoppable members
    int availableCount = 0;  // all stoppable members
    bool isCompleteSelection = false;
    std::vector<std::int32_t> selectedPIDs;  // in the group's stoppable order
    std::vector<std::string> facts;          // one to five lines

    bool operator==(const SelectedImpactGroup&) const = default;
};

struct ImpactAssessment {
    int selectedCount = 0;  // over every group, also those beyond the limit
    int groupCount = 0;     // groups holding at least one selected stoppable process
    std::vector<SelectedImpactGroup> groups;  // the first `limit` of them, in input order
    int omittedGroupCount = 0;
    std::vector<std::string> highImpactNotes;  // distinct, first-seen order, at most 6

    // Pure: reads no processes, files or clocks. Only stoppable members whose
    // id is in `selectedIDs` count as selected.
    static ImpactAssessment make(const std::vector<ProcessGroup>& groups,
                                 const std::unordered_set<std::string>& selectedIDs, int limit);

    bool operator==(const ImpactAssessment&) const = default;
};

}  // namespace corvalent
