#pragma once

// Some storage is best cleaned by the tool that owns it. These are read-only
// how-tos matched to a cleanup candidate; nothing here runs any command.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/disk/disk_insights.h"

namespace corvalent {

struct DiskCleanupGuide {
    enum class Kind { containers, xcodeComponents, derivedData, npmCache, gradleCache, cloudStorage };

    Kind kind = Kind::containers;
    std::string title;
    std::string summary;
    std::vector<std::string> steps;
    std::vector<std::string> commands;  // shown for the user to run, never run by us
    std::string caution;
    std::optional<std::string> documentationURL;

    // The kind's raw value, e.g. "cloudStorage": every cloud guide shares it.
    std::string_view id() const;
    bool operator==(const DiskCleanupGuide&) const = default;
};

// The case name: "containers", "xcodeComponents", ... "cloudStorage".
std::string_view rawValue(DiskCleanupGuide::Kind kind);
std::optional<DiskCleanupGuide::Kind> diskCleanupGuideKindFromRaw(std::string_view raw);

namespace DiskCleanupGuides {

// The guide for the candidate's path (container, Xcode, npm and Gradle
// storage), else for cloud-managed files, else none.
std::optional<DiskCleanupGuide> guide(const DiskCleanupCandidate& candidate);

}  // namespace DiskCleanupGuides
}  // namespace corvalent
