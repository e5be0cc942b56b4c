#include "bridge/disk_privacy.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace corvalent {
namespace {

constexpr std::array<std::string_view, 9> privacyProtectedSuffixes{
    "/Desktop",          "/Documents",       "/Downloads",
    "/Library/CloudStorage", "/Library/Mail", "/Library/Messages",
    "/Library/Mobile Documents", "/Library/Safari", "/Pictures/Photos Library.photoslibrary",
};

// The home folder without a trailing "/"; "/" protects nothing.
std::string_view homeOf(const PLPrivacyFolders& folders)
{
    std::string_view home = folders.home;
    while (!home.empty() && home.back() == '/') home.remove_suffix(1);
    return home;
}

}  // namespace

std::size_t pathComponents(std::string_view path)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) ++count;
    return count;
}

std::size_t privacyRuleDepth(const PLPrivacyFolders& folders)
{
    const auto home = homeOf(folders);
    std::size_t depth = home.empty() ? 0 : pathComponents(home) + 2;
    for (const auto& folder : folders.desktopFolders) depth = std::max(depth, pathComponents(folder));
    return depth;
}

std::int32_t pl_should_skip_privacy_path(const char* root, const char* path, const PLPrivacyFolders& folders)
{
    if (root == nullptr || path == nullptr) return 0;
    const std::string_view pathText(path);
    if (pathText == std::string_view(root)) return 0;
    if (std::ranges::find(folders.desktopFolders, pathText) != folders.desktopFolders.end()) return 1;
    const auto home = homeOf(folders);
    if (home.empty()) return 0;
    if (!pathText.starts_with(home)) return 0;
    const auto rest = pathText.substr(home.size());
    for (const auto suffix : privacyProtectedSuffixes)
        if (rest == suffix) return 1;
    return 0;
}

}  // namespace corvalent
