#include "bridge/disk_privacy.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "bridge/process_bridge.h"

namespace corvalent {
namespace {

constexpr std::array<std::string_view, 9> privacyProtectedSuffixes{
    "/Desktop",          "/Documents",       "/Downloads",
    "/Library/CloudStorage", "/Library/Mail", "/Library/Messages",
    "/Library/Mobile Documents", "/Library/Safari", "/Pictures/Photos Library.photoslibrary",
};

}  // namespace

std::size_t pathComponents(std::string_view path)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) ++count;
    return count;
}

std::size_t privacyRuleDepth(const std::vector<std::string>& desktopFolders)
{
    const std::string_view home = pl_account_home();
    std::size_t depth = home.empty() ? 0 : pathComponents(home) + 2;
    for (const auto& folder : desktopFolders) depth = std::max(depth, pathComponents(folder));
    return depth;
}

std::int32_t pl_should_skip_privacy_path(const char* root, const char* path,
                                         const std::vector<std::string>& desktopFolders)
{
    if (root == nullptr || path == nullptr) return 0;
    const std::string_view pathText(path);
    if (pathText == std::string_view(root)) return 0;
    if (std::ranges::find(desktopFolders, pathText) != desktopFolders.end()) return 1;
    const std::string_view home = pl_account_home();
    if (home.empty()) return 0;
    if (!pathText.starts_with(home)) return 0;
    const auto rest = pathText.substr(home.size());
    for (const auto suffix : privacyProtectedSuffixes)
        if (rest == suffix) return 1;
    return 0;
}

}  // namespace corvalent
