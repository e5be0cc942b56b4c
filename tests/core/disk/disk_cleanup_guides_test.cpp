#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_cleanup_guides.h"

namespace corvalent {
namespace {

using Category = DiskCleanupCategory;

std::optional<DiskCleanupGuide> guideFor(const std::string& path, Category category)
{
    DiskCleanupCandidate candidate;
    candidate.path = path;
    candidate.category = category;
    return DiskCleanupGuides::guide(candidate);
}

TEST(DiskCleanupGuide, ChoosesTheOwningToolThenTheCloudProvider)
{
    struct Case {
        std::string path;
        Category category;
        std::optional<std::string> title;  // none: no guide
    };
    const std::vector<Case> cases{
        {"/var/lib/docker/overlay2", Category::container, "Clean with Docker"},
        {"/home/ana/dockerfiles", Category::developer, std::nullopt},
        {"/home/ana/.cache/NPM/_cacache/index-v5", Category::cache, "Clean with npm"},
        {"/home/ana/.Gradle/Caches/modules-2", Category::cache, "Review Gradle caches"},
        {"/home/ana/.gradle/caches-old", Category::developer, std::nullopt},
        {"/home/ana/Google Drive/Report", Category::cloud, "Free local space with Google Drive"},
        {"/home/ana/Library/CloudStorage/Box-Box/Report", Category::cloud, "Free local space with your cloud provider"},
        {"/home/ana/Dropbox/Report.pdf", Category::personal, std::nullopt},
        // The owning tool knows its storage better than the provider that syncs it.
        {"/home/ana/Library/CloudStorage/Dropbox/App/DerivedData/Build", Category::cloud, "Review Xcode build data"},
    };
    for (const auto& each : cases) {
        const auto guide = guideFor(each.path, each.category);
        EXPECT_EQ(guide ? std::optional(guide->title) : std::nullopt, each.title) << each.path;
    }

    // Every cloud guide shares one id although their texts differ by provider.
    const auto google = guideFor("/home/ana/Library/CloudStorage/GoogleDrive-Account/Report", Category::cloud).value();
    const auto unknown = guideFor("/home/ana/Library/CloudStorage/Box-Box/Report", Category::cloud).value();
    EXPECT_NE(google, unknown);
    EXPECT_EQ(google.id(), unknown.id());
    EXPECT_TRUE(google.commands.empty()) << "nothing to run for a provider";
}

}  // namespace
}  // namespace corvalent
