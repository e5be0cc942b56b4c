#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/disk_cleanup_guides.h"

namespace corvalent {
namespace {

using Kind = DiskCleanupGuide::Kind;
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
        {"/home/ana/OrbStack/docker/volumes", Category::container, "Clean with OrbStack"},
        {"/var/lib/docker/overlay2", Category::container, "Clean with Docker"},
        {"/home/ana/dockerfiles", Category::developer, std::nullopt},
        {"/Library/Developer/CoreSimulator/Volumes/iOS_21A328", Category::developer, "Clean with Xcode"},
        {"/home/ana/Library/Caches/SimulatorRuntimes", Category::cache, "Clean with Xcode"},
        {"/home/ana/.npm/_cacache", Category::cache, "Clean with npm"},
        {"/home/ana/.cache/NPM/_cacache/index-v5", Category::cache, "Clean with npm"},
        {"/home/ana/.gradle/caches", Category::cache, "Review Gradle caches"},
        {"/home/ana/.Gradle/Caches/modules-2", Category::cache, "Review Gradle caches"},
        {"/home/ana/.gradle/wrapper", Category::developer, std::nullopt},
        {"/home/ana/.gradle/caches-old", Category::developer, std::nullopt},
        {"/home/ana/Library/CloudStorage/GoogleDrive-Account/Report", Category::cloud,
         "Free local space with Google Drive"},
        {"/home/ana/Google Drive/Report", Category::cloud, "Free local space with Google Drive"},
        {"/home/ana/Library/Mobile Documents/com~apple~CloudDocs/Report", Category::cloud,
         "Free local space with cloud storage"},
        {"/home/ana/Library/CloudStorage/Dropbox/Report", Category::cloud, "Free local space with Dropbox"},
        {"/home/ana/Library/CloudStorage/OneDrive-Personal/Report", Category::cloud, "Free local space with OneDrive"},
        {"/home/ana/Library/CloudStorage/Box-Box/Report", Category::cloud, "Free local space with your cloud provider"},
        {"/home/ana/Dropbox/Report.pdf", Category::personal, std::nullopt},
        // The owning tool knows its storage better than the provider that syncs it.
        {"/home/ana/Library/CloudStorage/Dropbox/App/DerivedData/Build", Category::cloud, "Review Xcode build data"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.path);
        const auto guide = guideFor(each.path, each.category);
        EXPECT_EQ(guide ? std::optional(guide->title) : std::nullopt, each.title);
    }

    const auto docker = guideFor("/var/lib/docker/overlay2", Category::container).value();
    EXPECT_EQ(docker.id(), "containers");
    EXPECT_EQ(docker.commands, (std::vector<std::string>{"docker system df -v", "docker system prune"}));
    EXPECT_EQ(docker.steps.at(0), "Review Docker\u2019s itemized disk usage before removing anything.");
    EXPECT_EQ(guideFor("/Library/Developer/CoreSimulator/Devices", Category::developer).value().steps.at(0),
              "Open Xcode \u2192 Settings \u2192 Components.");
}

TEST(DiskCleanupGuide, CloudGuidesDifferByProviderButShareTheirId)
{
    const auto google = guideFor("/home/ana/Library/CloudStorage/GoogleDrive-Account/Report", Category::cloud).value();
    const auto iCloud =
        guideFor("/home/ana/Library/Mobile Documents/com~apple~CloudDocs/Report", Category::cloud).value();
    const auto unknown = guideFor("/home/ana/Library/CloudStorage/Box-Box/Report", Category::cloud).value();

    EXPECT_EQ(google.kind, Kind::cloudStorage);
    ASSERT_EQ(google.steps.size(), 3u);
    EXPECT_EQ(iCloud.steps.at(1),
              "Right-click a fully downloaded item in the file manager and choose Remove Download.");
    EXPECT_TRUE(iCloud.documentationURL.has_value());
    EXPECT_EQ(unknown.documentationURL, std::nullopt);
    EXPECT_TRUE(google.commands.empty());

    EXPECT_NE(google, iCloud);
    EXPECT_EQ(google.steps[0], iCloud.steps[0]);
    EXPECT_EQ(google.id(), "cloudStorage");
    EXPECT_EQ(iCloud.id(), "cloudStorage");
}

TEST(DiskCleanupGuide, KindRawValuesRoundTrip)
{
    for (const auto kind : {Kind::containers, Kind::xcodeComponents, Kind::derivedData, Kind::npmCache,
                            Kind::gradleCache, Kind::cloudStorage})
        EXPECT_EQ(diskCleanupGuideKindFromRaw(rawValue(kind)), kind);
    EXPECT_EQ(diskCleanupGuideKindFromRaw("CloudStorage"), std::nullopt);
    EXPECT_EQ(diskCleanupGuideKindFromRaw(""), std::nullopt);
}

}  // namespace
}  // namespace corvalent
