#include "core/disk/disk_cleanup_guides.h"

#include <array>
#include <utility>

#include "core/common/paths.h"

namespace corvalent {
namespace {

using Kind = DiskCleanupGuide::Kind;

constexpr std::array<std::pair<Kind, std::string_view>, 6> kindNames{{
    {Kind::containers, "containers"},
    {Kind::xcodeComponents, "xcodeComponents"},
    {Kind::derivedData, "derivedData"},
    {Kind::npmCache, "npmCache"},
    {Kind::gradleCache, "gradleCache"},
    {Kind::cloudStorage, "cloudStorage"},
}};

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

DiskCleanupGuide containersGuide(std::string_view path)
{
    return {
        Kind::containers,
        contains(path, "/orbstack/") ? "Clean with OrbStack" : "Clean with Docker",
        "Container storage can hold databases, volumes, images, and active projects. Corvalent keeps its backing "
        "files protected.",
        {
            "Review Docker’s itemized disk usage before removing anything.",
            "Remove unused containers, images, and build cache through OrbStack or Docker.",
            "Review volumes separately; an unused volume can still contain data you need.",
        },
        {"docker system df -v", "docker system prune"},
        "The prune command asks for confirmation. It removes stopped containers, unused networks, dangling images, "
        "and build cache; volumes are not removed by default.",
        "https://docs.docker.com/engine/manage-resources/pruning/",
    };
}

DiskCleanupGuide xcodeComponentsGuide()
{
    return {
        Kind::xcodeComponents,
        "Clean with Xcode",
        "Simulator runtimes and devices are managed by Xcode. Moving their backing files directly can leave broken "
        "registrations.",
        {
            "Open Xcode → Settings → Components.",
            "Use the information button beside an unused runtime, then choose Delete.",
            "For individual devices, open Window → Devices and Simulators and delete unused simulators there.",
        },
        {},
        "Keep runtimes required by projects you still test. Xcode shows the recoverable amount before removal.",
        "https://developer.apple.com/documentation/xcode/downloading-and-installing-additional-xcode-components",
    };
}

DiskCleanupGuide derivedDataGuide()
{
    return {
        Kind::derivedData,
        "Review Xcode build data",
        "Derived Data contains indexes and build products that Xcode can recreate.",
        {
            "Finish or stop active builds and close affected Xcode projects.",
            "Review the project folder shown by Corvalent.",
            "Move only projects you recognize to Trash; the next build and index will take longer.",
        },
        {},
        "Do not remove archives or project source alongside Derived Data.",
        std::nullopt,
    };
}

DiskCleanupGuide npmCacheGuide()
{
    return {
        Kind::npmCache,
        "Clean with npm",
        "npm’s content-addressable cache is self-healing. Its own verification command can garbage-collect unneeded "
        "entries.",
        {
            "Run npm’s cache verification first.",
            "Review the reported garbage collection and integrity result.",
            "Use a forced full clean only when you intentionally want to redownload packages.",
        },
        {"npm cache verify"},
        "Corvalent does not run npm commands. A full cache clean requires --force and is normally unnecessary.",
        "https://docs.npmjs.com/cli/commands/npm-cache",
    };
}

DiskCleanupGuide gradleCacheGuide()
{
    return {
        Kind::gradleCache,
        "Review Gradle caches",
        "Gradle can recreate dependency and build caches, but active builds may be using them.",
        {
            "Stop active Gradle builds and IDE syncs.",
            "Prefer project-specific build cleanup before removing shared caches.",
            "Expect dependencies to download again on the next build.",
        },
        {"./gradlew clean"},
        "The project clean task removes build outputs, not every shared cache. Corvalent never runs it automatically.",
        std::nullopt,
    };
}

struct CloudProvider {
    std::string_view name;
    std::string_view step;
    std::optional<std::string_view> documentationURL;
};

CloudProvider cloudProvider(std::string_view path)
{
    if (contains(path, "mobile documents"))
        return {"cloud storage", "Right-click a fully downloaded item in the file manager and choose Remove Download.",
                "https://support.apple.com/guide/mac-help/store-files-in-icloud-drive-mchle5a61431/mac"};
    if (contains(path, "dropbox"))
        return {"Dropbox", "Right-click an item in the file manager and choose Make online-only.",
                "https://help.dropbox.com/sync/make-files-online-only"};
    if (contains(path, "onedrive"))
        return {"OneDrive", "Right-click an item in the file manager and choose Free up space.",
                "https://support.microsoft.com/office/"
                "save-disk-space-with-onedrive-files-on-demand-for-mac-529f6ad3-d8a5-4a27-bdf2-8b69ba1dc0e4"};
    if (contains(path, "googledrive") || contains(path, "google drive"))
        return {"Google Drive",
                "Use Drive for desktop’s streaming and offline-access controls to make the item online-only.",
                "https://support.google.com/drive/answer/13401938"};
    return {"your cloud provider",
            "Use the provider’s file manager action to remove the local download or make the item online-only.",
            std::nullopt};
}

DiskCleanupGuide cloudStorageGuide(std::string_view path)
{
    const auto provider = cloudProvider(path);
    return {
        Kind::cloudStorage,
        "Free local space with " + std::string(provider.name),
        "Cloud-managed files can be visible in the file manager without occupying their full logical size. "
        "Corvalent never trashes their backing data.",
        {
            "Confirm the provider reports that syncing is complete.",
            std::string(provider.step),
            "Wait for the cloud status icon to change, then rescan to measure the local space released.",
        },
        {},
        "Do not use Delete or Move to Trash: that can remove the item from the cloud and every synced device. "
        "Online-only files require a network connection to open again.",
        provider.documentationURL ? std::optional<std::string>(*provider.documentationURL) : std::nullopt,
    };
}

}  // namespace

std::string_view rawValue(DiskCleanupGuide::Kind kind)
{
    for (const auto& [each, name] : kindNames)
        if (each == kind) return name;
    return {};
}

std::optional<DiskCleanupGuide::Kind> diskCleanupGuideKindFromRaw(std::string_view raw)
{
    for (const auto& [kind, name] : kindNames)
        if (name == raw) return kind;
    return std::nullopt;
}

std::string_view DiskCleanupGuide::id() const
{
    return rawValue(kind);
}

namespace DiskCleanupGuides {

std::optional<DiskCleanupGuide> guide(const DiskCleanupCandidate& candidate)
{
    const auto lowered = Paths::lowerCased(candidate.path);
    const std::string_view path = lowered;

    // The owning tool knows its storage better than the cloud provider that syncs it.
    if (contains(path, "/orbstack/") || contains(path, "/docker/")) return containersGuide(path);
    if (contains(path, "/coresimulator/") || contains(path, "simulatorruntime")) return xcodeComponentsGuide();
    if (contains(path, "/deriveddata/")) return derivedDataGuide();
    if (contains(path, "/.npm/") || contains(path, "/npm/_cacache/")) return npmCacheGuide();
    if (contains(path, "/.gradle/caches/") || path.ends_with("/.gradle/caches")) return gradleCacheGuide();
    if (candidate.category == DiskCleanupCategory::cloud) return cloudStorageGuide(path);
    return std::nullopt;
}

}  // namespace DiskCleanupGuides
}  // namespace corvalent
