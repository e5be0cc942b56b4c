#pragma once

// The short decision brief a local language model writes about a stop
// review: the instructions and prompt it is given, and the checks its reply
// must pass before anyone sees it. The model itself lives in the models layer.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/process/impact_assessment.h"

namespace corvalent {

class ImpactExplanationError : public std::runtime_error {
public:
    enum class Kind { emptyResponse };

    explicit ImpactExplanationError(Kind kind);
    Kind kind() const { return kind_; }
    bool operator==(const ImpactExplanationError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

namespace OnDeviceImpactExplainer {

// The model's standing instructions, one line.
std::string instructions();

// Only what the assessment states, with titles, impacts and facts flattened to
// one line and cut, so the prompt stays short and cannot be restructured by a
// process name.
std::string prompt(const ImpactAssessment& assessment, const std::map<std::int32_t, std::vector<int>>& listeningPorts);

// The trimmed reply, cut to 1,200 characters, when it names an affected group
// or a listening port; nullopt when it names neither. Throws
// ImpactExplanationError for a reply that is empty after trimming.
std::optional<std::string> acceptedReply(const std::string& reply, const ImpactAssessment& assessment,
                                         const std::map<std::int32_t, std::vector<int>>& listeningPorts);

}  // namespace OnDeviceImpactExplainer

}  // namespace corvalent
