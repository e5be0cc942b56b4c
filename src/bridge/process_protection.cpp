#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <pwd.h>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "bridge/process_bridge.h"

namespace corvalent {
namespace {

constexpr auto criticalServiceNames = std::to_array<std::string_view>({
    "launchd", "loginwindow", "WindowServer", "kernel_task", "securityd",     "trustd",
    "tccd",    "authd",       "syspolicyd",   "amfid",       "watchdogd",     "runningboardd",
});

// The desktop session's own processes. Their programs live in /usr/bin and
// /usr/lib beside ordinary ones, so the name is what protects them: init and
// the user manager, the message bus, display servers, shells and compositors,
// session managers, sound servers, portals, keyrings and agents, input
// methods, accessibility, and the login and ssh session.
constexpr auto sessionServiceNames = std::to_array<std::string_view>({
    "systemd", "dbus-daemon", "dbus-broker", "dbus-broker-launch", "Xorg", "Xwayland", "Xvfb", "Xvnc", "Xtigervnc",
    "gnome-shell", "gnome-session-binary", "gnome-session-ctl", "mutter", "kwin_wayland", "kwin_x11",
    "kwin_wayland_wrapper", "plasmashell", "ksmserver", "kded5", "kded6", "startplasma-x11", "startplasma-wayland",
    "xfce4-session", "xfwm4", "xfce4-panel", "xfsettingsd", "sway", "i3", "openbox", "weston", "Hyprland",
    "cinnamon", "cinnamon-session", "mate-session", "lxsession", "pipewire", "pipewire-pulse", "wireplumber",
    "pulseaudio", "xdg-desktop-portal", "xdg-desktop-portal-gnome", "xdg-desktop-portal-gtk",
    "xdg-desktop-portal-kde", "xdg-desktop-portal-wlr", "xdg-document-portal", "xdg-permission-store",
    "gnome-keyring-daemon", "kwalletd5", "kwalletd6", "ssh-agent", "gpg-agent", "ibus-daemon", "fcitx5", "fcitx",
    "at-spi-bus-launcher", "at-spi2-registryd", "sshd", "login", "gdm", "sddm", "lightdm",
});

constexpr auto securityToolMarkers = std::to_array<std::string_view>({
    "Tailscale", "Cloudflare WARP", "Little Snitch", "LuLu.app", "Endpoint", "SystemExtensions",
});

// Linux security tools, by program name: a path text such as "clamd" could
// just as well be a project folder in the home.
constexpr auto securityToolNames = std::to_array<std::string_view>({
    "clamd",       "freshclam",   "clamonacc",      "opensnitchd", "opensnitch-ui", "auditd",   "falcon-sensor",
    "falcond",     "mdatp",       "wdavdaemon",     "tailscaled",  "warp-svc",      "mullvad-daemon",
    "nordvpnd",    "openvpn",     "wg-quick",       "wireguard-go", "osqueryd",     "wazuh-agentd",
});

// Places where software a user installed lives, beside the home folder. On
// Linux the package manager puts the user's ordinary programs in /usr/bin,
// /usr/lib and /usr/share, and flatpak and snap keep their own trees.
constexpr auto approvedPrefixes = std::to_array<std::string_view>({
    "/Applications/", "/opt/homebrew/", "/usr/local/", "/Library/Java/JavaVirtualMachines/",
    "/opt/",          "/usr/bin/",      "/usr/games/", "/usr/lib/", "/usr/share/", "/snap/", "/var/lib/flatpak/",
    "/home/linuxbrew/.linuxbrew/",
});

// System daemons inside an approved tree; /usr/sbin, /sbin and /usr/libexec
// are simply never approved.
constexpr auto unapprovedWithinApproved = std::to_array<std::string_view>({"/usr/lib/systemd/"});

constexpr std::string_view simulatorPrefix = "/Library/Developer/CoreSimulator/";
constexpr std::string_view simulatorRuntime = "/RuntimeRoot/";

std::string withoutTrailingSlashes(std::string path)
{
    // "/home/ana/" is compared as "/home/ana"; "/" approves nothing.
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

std::string readAccountHome()
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> strings(16'384);
    if (::getpwuid_r(::getuid(), &entry, strings.data(), strings.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr)
        return std::string();
    return withoutTrailingSlashes(std::string(found->pw_dir, ::strnlen(found->pw_dir, 4095)));
}

// The home as the account database names it, and where it really is: the
// kernel gives executable paths with links resolved, and the home may be
// reached through one (/home a link to /var/home).
struct AccountHome {
    std::string named;
    std::string real;
};

// From the account database, not the environment: HOME can be set to anything.
// Kept once read and resolved; read again while it comes back empty, as it
// does when the first read finds no descriptor free for the database's file.
const AccountHome& accountHome()
{
    static const AccountHome none;
    static std::mutex lock;
    static AccountHome home;
    static std::atomic<bool> known = false;
    if (known.load(std::memory_order_acquire)) return home;
    const std::lock_guard guard(lock);
    if (!known.load(std::memory_order_relaxed)) {
        auto read = readAccountHome();
        if (read.empty()) return none;
        char* real = ::realpath(read.c_str(), nullptr);
        home.real = real == nullptr ? read : withoutTrailingSlashes(real);
        std::free(real);
        home.named = std::move(read);
        known.store(true, std::memory_order_release);
    }
    return home;
}

}  // namespace

const char* pl_account_home()
{
    return accountHome().named.c_str();
}

std::int32_t pl_protection_reason(std::int32_t pid, std::uint32_t uid, const char* path, const char* name)
{
    if (pid < 2) return 1;
    if (pid == ::getpid()) return 2;
    if (uid != ::getuid()) return 3;
    if (path == nullptr || name == nullptr || path[0] == '\0' || name[0] == '\0') return 4;

    const std::string_view pathText(path);
    const std::string_view nameText(name);
    const auto named = [&](const auto& names) { return std::find(names.begin(), names.end(), nameText) != names.end(); };
    if (named(criticalServiceNames) || named(sessionServiceNames)) return 5;
    if (named(securityToolNames)) return 6;
    for (const auto marker : securityToolMarkers)
        if (pathText.find(marker) != std::string_view::npos) return 6;
    for (const auto prefix : unapprovedWithinApproved)
        if (pathText.starts_with(prefix)) return 7;
    for (const auto prefix : approvedPrefixes)
        if (pathText.starts_with(prefix)) return 0;
    if (pathText.starts_with(simulatorPrefix) && pathText.find(simulatorRuntime) != std::string_view::npos) return 0;

    const auto inside = [pathText](const std::string& home) {
        return !home.empty() && pathText.size() > home.size() && pathText.starts_with(home) &&
               pathText[home.size()] == '/';
    };
    const auto& home = accountHome();
    return inside(home.named) || inside(home.real) ? 0 : 7;
}

}  // namespace corvalent
