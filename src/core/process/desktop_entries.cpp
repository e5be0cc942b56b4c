#include "core/process/desktop_entries.h"

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "core/disk/folder_listing.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalent {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    while (!text.empty()) {
        const auto end = text.find(separator);
        const auto part = text.substr(0, end);
        if (!part.empty()) parts.emplace_back(part);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return parts;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string canonical(const std::string& path)
{
    std::error_code error;
    const auto resolved = fs::canonical(path, error);
    return error ? std::string() : resolved.string();
}

std::string_view fileName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folderOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

// A string value of a key file: "\s", "\n", "\t", "\r" and "\\" decoded;
// other escapes stay for Exec's own quoting rules.
std::string unescaped(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (const char next = value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += next;
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Programs that run something named in their arguments: their own file says
// nothing about which application runs, and would swallow every script.
bool isLauncher(std::string_view name)
{
    static constexpr std::array<std::string_view, 26> launchers{
        "sh",   "bash", "dash", "zsh",    "fish",  "ksh",     "csh",     "tcsh",   "env",
        "perl", "ruby", "node", "nodejs", "java",  "gjs",     "mono",    "wine",   "flatpak",
        "snap", "xdg-open", "gio", "pkexec", "sudo", "exo-open", "kioclient5", "electron"};
    return std::find(launchers.begin(), launchers.end(), name) != launchers.end() || name.starts_with("python") ||
           name.starts_with("perl") || name.starts_with("ruby") || name.starts_with("lua");
}

// The real file a program name or path stands for; "" when there is none.
std::string resolveProgram(const std::string& program, const std::vector<std::string>& searchPath)
{
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) return program.front() == '/' ? canonical(program) : std::string();
    for (const auto& folder : searchPath) {
        const auto candidate = folder + '/' + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return canonical(candidate);
    }
    return {};
}

// A Flatpak application id is reverse-DNS; never a path of its own.
bool isFlatpakId(std::string_view id)
{
    return !id.empty() && id.front() != '.' && id.find("..") == std::string_view::npos &&
           std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                      c == '_' || c == '-';
           });
}

// The Flatpak application an entry runs: its X-Flatpak key, else the id
// after "flatpak run" and its options; "" when it runs none.
std::string flatpakApp(const std::string& key, const std::vector<std::string>& arguments)
{
    std::string id = key;
    if (id.empty() && arguments.size() > 2 && fileName(arguments[0]) == "flatpak" && arguments[1] == "run") {
        const auto app = std::find_if(arguments.begin() + 2, arguments.end(),
                                      [](const std::string& word) { return !word.starts_with('-'); });
        if (app != arguments.end()) id = *app;
    }
    return isFlatpakId(id) ? id : std::string();
}

std::string_view withoutTrailingSlash(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

struct Candidate {
    InstalledApplication application;
    std::string programName;
    std::string windowClass;
};

// Of several entries with one location, the one named like the program, else
// the first id in byte order.
bool preferred(const Candidate& a, const Candidate& b)
{
    const auto names = [](const Candidate& c) {
        auto stem = lower(c.application.id);
        if (stem.ends_with(".desktop")) stem.resize(stem.size() - 8);
        const auto program = lower(c.programName);
        const auto dot = stem.rfind('.');
        return stem == program || (dot != std::string::npos && stem.substr(dot + 1) == program) ||
               (!c.windowClass.empty() && lower(c.windowClass) == program);
    };
    const bool aNamed = names(a);
    if (aNamed != names(b)) return aNamed;
    return a.application.id < b.application.id;
}

class Builder {
public:
    explicit Builder(const ApplicationPlaces& places) : places_(places)
    {
        for (const auto& folder : places.sharedFolders)
            if (auto real = canonical(folder); !real.empty()) shared_.insert(std::move(real));
    }

    void add(const std::string& folder, const fs::path& path, std::string id)
    {
        const auto file = DesktopEntries::readKeyFile(path.string());
        const auto group = file.find("Desktop Entry");
        if (group == file.end()) return;
        const auto& keys = group->second;
        const auto value = [&keys](std::string_view key) {
            const auto found = keys.find(key);
            return found == keys.end() ? std::string() : found->second;
        };
        if (value("Type") != "Application" || value("Hidden") == "true") return;
        auto arguments = DesktopEntries::execArguments(value("Exec"));
        if (const auto app = flatpakApp(value("X-Flatpak"), arguments); !app.empty()) {
            // Exported by Flatpak: its programs run inside the sandbox, so the
            // installation the entry was exported from stands for it.
            constexpr std::string_view exports = "/exports/share/applications";
            const std::string_view from = withoutTrailingSlash(folder);
            if (!from.ends_with(exports)) return;
            const auto location = std::string(from.substr(0, from.size() - exports.size())) + "/app/" + app;
            consider({{location, value("Name"), value("Icon"), std::move(id)}, app, value("StartupWMClass")});
            return;
        }
        // "env NAME=value … program": the program follows the assignments.
        if (!arguments.empty() && fileName(arguments.front()) == "env") {
            arguments.erase(arguments.begin());
            while (!arguments.empty() &&
                   (arguments.front().find('=') != std::string::npos || arguments.front().starts_with('-')))
                arguments.erase(arguments.begin());
        }
        const auto tryExec = value("TryExec");
        const auto named = tryExec.empty() ? (arguments.empty() ? std::string() : arguments.front()) : tryExec;
        auto program = resolveProgram(named, places_.searchPath);
        if (program.empty()) return;
        auto location = locationOf(program);
        if (named.starts_with("/snap/bin/")) {
            // A snap's command links to the snap launcher; the snap's current
            // revision is where its programs run from.
            const auto snap = std::string(fileName(named));
            location = canonical("/snap/" + snap.substr(0, snap.find('.')) + "/current");
            if (location.empty()) return;
        } else if (isLauncher(fileName(program))) {
            // The script it runs stands for the application, when it has a folder of its own.
            location.clear();
            const auto script = std::find_if(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end(),
                                             [](const std::string& word) { return !word.starts_with('-'); });
            if (script == arguments.end() || !script->starts_with('/')) return;
            program = canonical(*script);
            struct stat info {};
            if (program.empty() || ::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
            location = locationOf(program);
            if (location == program) return;
        }
        if (location.empty()) return;
        consider({{location, value("Name"), value("Icon"), std::move(id)}, std::string(fileName(program)),
                  value("StartupWMClass")});
    }

    std::unordered_map<std::string, InstalledApplication> finish()
    {
        std::unordered_map<std::string, InstalledApplication> byLocation;
        byLocation.reserve(candidates_.size());
        for (auto& [location, candidate] : candidates_) byLocation.emplace(location, std::move(candidate.application));
        return byLocation;
    }

private:
    void consider(Candidate candidate)
    {
        if (candidate.application.title.empty()) candidate.application.title = candidate.programName;
        const auto location = candidate.application.location;
        const auto [known, inserted] = candidates_.try_emplace(location, candidate);
        if (!inserted && preferred(candidate, known->second)) known->second = std::move(candidate);
    }

    // A program's folder when it has one of its own, else the program file.
    std::string locationOf(const std::string& program) const
    {
        // A snap's programs lie anywhere inside its revision's folder.
        if (program.starts_with("/snap/")) {
            const auto parts = split(program, '/');
            if (parts.size() > 3) return "/snap/" + parts[1] + '/' + parts[2];
        }
        const std::string folder(folderOf(program));
        if (folder.empty() || shared_.count(folder) == 1) return program;
        return folder;
    }

    const ApplicationPlaces& places_;
    std::set<std::string> shared_;
    std::map<std::string, Candidate> candidates_;
};

std::uint64_t mixed(std::uint64_t hash, std::uint64_t value)
{
    hash ^= value + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
}

}  // namespace

namespace {

// A folder on a network share or a FUSE mount: one that may stop answering
// while the program runs, and hold whatever thread looks at it for as long.
// The home's and the system's mounts answer; the folder's own mount is found
// in the mount table, links on those two followed, nothing else looked at.
bool onAMountThatMayNotAnswer(const std::string& folder, const std::vector<MountEntry>& table)
{
    if (!folder.starts_with('/')) return false;
    const auto place = FolderLister::countedUnder(folder);
    if (place.share.empty()) return false;
    const auto mount = std::find_if(table.begin(), table.end(),
                                    [&](const MountEntry& entry) { return entry.mountPoint == place.share; });
    if (mount == table.end()) return true;
    static constexpr std::array<std::string_view, 12> remote{"nfs",       "nfs4", "cifs",  "smb3",  "smbfs", "9p",
                                                             "ceph",      "afs",  "davfs", "ncpfs", "sshfs",
                                                             "glusterfs"};
    const std::string_view type = mount->fileSystem;
    return type.starts_with("fuse") || std::find(remote.begin(), remote.end(), type) != remote.end();
}

}  // namespace

ApplicationPlaces ApplicationPlaces::fromEnvironment()
{
    ApplicationPlaces places;
    const auto home = environment("HOME");
    const auto dataHome = DesktopEntries::userDataHome();
    auto dataDirs = split(environment("XDG_DATA_DIRS"), ':');
    std::erase_if(dataDirs, [](const std::string& dir) { return !dir.starts_with('/'); });
    if (dataDirs.empty()) dataDirs = {"/usr/local/share", "/usr/share"};
    places.applicationFolders.push_back(dataHome + "/applications");
    for (const auto& dir : dataDirs) places.applicationFolders.push_back(dir + "/applications");

    places.searchPath = split(environment("PATH"), ':');
    places.sharedFolders = places.searchPath;
    // Entries and programs are looked for only where the mount answers: a
    // folder on a share that stopped answering would hold sampling for good.
    const FileDescriptor mounts(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    const auto table = parseMountInfo(mounts.valid() ? readMountInfo(mounts.get()).value_or("") : std::string());
    const auto mayNotAnswer = [&table](const std::string& folder) { return onAMountThatMayNotAnswer(folder, table); };
    std::erase_if(places.applicationFolders, mayNotAnswer);
    std::erase_if(places.searchPath, mayNotAnswer);
    // Folders of many programs or of whole software trees: a program directly
    // inside one is an application of its own, never the whole folder.
    for (const char* folder : {"/usr/bin", "/usr/sbin", "/bin", "/sbin", "/usr/games", "/usr/local/bin",
                               "/usr/local/games", "/usr/local/sbin", "/usr/lib", "/usr/libexec", "/usr/local/lib",
                               "/usr/share", "/opt", "/snap/bin", "/"})
        places.sharedFolders.emplace_back(folder);
    if (!home.empty()) {
        places.sharedFolders.push_back(home + "/.local/bin");
        places.sharedFolders.push_back(home + "/bin");
        places.sharedFolders.push_back(home);
    }
    return places;
}

ApplicationIndex ApplicationIndex::build(const ApplicationPlaces& places)
{
    ApplicationIndex index;
    index.stamp_ = stamp(places);
    Builder builder(places);
    // An entry's id is its path below the applications folder with "/" as
    // "-"; the first folder with an id wins, even when its entry is hidden.
    std::set<std::string> seen;
    for (const auto& folder : places.applicationFolders) {
        std::error_code error;
        fs::recursive_directory_iterator files(folder, fs::directory_options::skip_permission_denied, error);
        std::vector<std::pair<std::string, fs::path>> entries;
        for (; !error && files != fs::recursive_directory_iterator(); files.increment(error)) {
            const auto& path = files->path();
            if (path.extension() != ".desktop" || !files->is_regular_file(error)) continue;
            auto id = path.lexically_relative(folder).string();
            std::replace(id.begin(), id.end(), '/', '-');
            entries.emplace_back(std::move(id), path);
        }
        for (auto& [id, path] : entries)
            if (seen.insert(id).second) builder.add(folder, path, id);
    }
    index.byLocation_ = builder.finish();
    return index;
}

std::uint64_t ApplicationIndex::stamp(const ApplicationPlaces& places)
{
    std::uint64_t hash = 0x84222325cbf29ce4ULL;
    for (const auto& folder : places.applicationFolders) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) {
            hash = mixed(hash, 0);
            continue;
        }
        hash = mixed(hash, static_cast<std::uint64_t>(info.st_mtim.tv_sec));
        hash = mixed(hash, static_cast<std::uint64_t>(info.st_mtim.tv_nsec));
        hash = mixed(hash, static_cast<std::uint64_t>(info.st_ino));
    }
    return hash == 0 ? 1 : hash;
}

const InstalledApplication* ApplicationIndex::locate(std::string_view executable) const
{
    if (byLocation_.empty() || !executable.starts_with('/')) return nullptr;
    // The path itself, then each folder above it: the longest location wins.
    std::string prefix(executable);
    while (prefix.size() > 1) {
        if (const auto found = byLocation_.find(prefix); found != byLocation_.end()) return &found->second;
        const auto slash = prefix.rfind('/');
        prefix.resize(slash == 0 ? 1 : slash);
        if (slash == 0) break;
    }
    return nullptr;
}

namespace DesktopEntries {

std::vector<std::string> execArguments(std::string_view exec)
{
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    bool started = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < exec.size())
                current += exec[++i];
            else
                current += c;
        } else if (c == '"') {
            quoted = started = true;
        } else if (c == ' ' || c == '\t') {
            if (started) arguments.push_back(current);
            current.clear();
            started = false;
        } else if (c == '%' && i + 1 < exec.size()) {
            if (exec[++i] == '%') {
                current += '%';
                started = true;
            }
        } else {
            current += c;
            started = true;
        }
    }
    if (started) arguments.push_back(current);
    return arguments;
}

KeyFile readKeyFile(const std::string& path)
{
    KeyFile groups;
    std::ifstream input(path);
    std::string line;
    KeyFileGroup* group = nullptr;  // none before the first valid header
    while (std::getline(input, line)) {
        const auto text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            group = text.size() > 1 && text.back() == ']' ? &groups[std::string(text.substr(1, text.size() - 2))]
                                                          : nullptr;
            continue;
        }
        const auto equals = text.find('=');
        if (group == nullptr || equals == 0 || equals == std::string_view::npos) continue;
        const auto key = trimmed(text.substr(0, equals));
        if (key.find('[') != std::string_view::npos) continue;
        group->try_emplace(std::string(key), unescaped(trimmed(text.substr(equals + 1))));
    }
    return groups;
}

std::string userDataHome()
{
    auto dataHome = environment("XDG_DATA_HOME");
    if (!dataHome.starts_with('/')) dataHome = environment("HOME") + "/.local/share";
    return dataHome;
}

std::string flatpakInstallation(std::string_view appId, const std::string& userDataHome)
{
    if (!isFlatpakId(appId)) return {};
    const auto user = userDataHome + "/flatpak/app/" + std::string(appId);
    struct stat info {};
    if (::stat(user.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return user;
    return "/var/lib/flatpak/app/" + std::string(appId);
}

}  // namespace DesktopEntries

}  // namespace corvalent
