#include <array>
#include <cstring>
#include <string>
#include <pwd.h>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "bridge/process_bridge.h"

namespace corvalent {
namespace {

constexpr std::array<std::string_view, 12> criticalServiceNames{
    "launchd", "loginwindow", "WindowServer", "kernel_task", "securityd",     "trustd",
    "tccd",    "authd",       "syspolicyd",   "amfid",       "watchdogd",     "runningboardd",
};

constexpr std::array<std::string_view, 6> securityToolMarkers{
    "Tailscale", "Cloudflare WARP", "Little Snitch", "LuLu.app", "Endpoint", "SystemExtensions",
};

// Places where software a user installed lives, beside the home folder.
constexpr std::array<std::string_view, 7> approvedPrefixes{
    "/Applications/", "/opt/homebrew/", "/usr/local/", "/Library/Java/JavaVirtualMachines/",
    "/opt/",          "/usr/lib/jvm/",  "/home/linuxbrew/.linuxbrew/",
};

constexpr std::string_view simulatorPrefix = "/Library/Developer/CoreSimulator/";
constexpr std::string_view simulatorRuntime = "/RuntimeRoot/";

// From the account database, not the environment: HOME can be set to anything.
std::string_view accountHome()
{
    static const std::string home = [] {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> strings(16'384);
        if (::getpwuid_r(::getuid(), &entry, strings.data(), strings.size(), &found) != 0 || found == nullptr ||
            found->pw_dir == nullptr)
            return std::string();
        std::string path(found->pw_dir, ::strnlen(found->pw_dir, 4095));
        // "/home/ana/" is compared as "/home/ana"; "/" approves nothing.
        while (!path.empty() && path.back() == '/') path.pop_back();
        return path;
    }();
    return home;
}

}  // namespace

const char* pl_account_home()
{
    return accountHome().data();
}

std::int32_t pl_protection_reason(std::int32_t pid, std::uint32_t uid, const char* path, const char* name)
{
    if (pid < 2) return 1;
    if (pid == ::getpid()) return 2;
    if (uid != ::getuid()) return 3;
    if (path == nullptr || name == nullptr || path[0] == '\0' || name[0] == '\0') return 4;

    const std::string_view pathText(path);
    const std::string_view nameText(name);
    for (const auto critical : criticalServiceNames)
        if (nameText == critical) return 5;
    for (const auto marker : securityToolMarkers)
        if (pathText.find(marker) != std::string_view::npos) return 6;
    for (const auto prefix : approvedPrefixes)
        if (pathText.starts_with(prefix)) return 0;
    if (pathText.starts_with(simulatorPrefix) && pathText.find(simulatorRuntime) != std::string_view::npos) return 0;

    const auto home = accountHome();
    if (home.empty()) return 7;
    if (pathText.size() > home.size() && pathText.starts_with(home) && pathText[home.size()] == '/') return 0;
    return 7;
}

}  // namespace corvalent
