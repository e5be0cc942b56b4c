// Turns sampled processes into the rows of the process workspace: one rule
// table decides each process's group, then groups get their totals and order.

#include <algorithm>
#include <array>
#include <chrono>
#include <unistd.h>

#include "core/process/processes.h"
#include "core/common/saturating.h"

namespace corvalent {
namespace {

using ProcessIndex = std::unordered_map<std::int32_t, const ProcessRecord*>;

constexpr std::array<std::string_view, 5> projectMarkers{"/sorvanel/", "/projects/", "/Projects/", "/Developer/",
                                                         "/repos/"};
constexpr std::size_t longestChain = 12;

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

std::string_view withoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

std::string_view lastComponent(std::string_view path)
{
    path = withoutTrailingSlashes(path);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ProcessIndex processIndex(const std::vector<ProcessRecord>& records)
{
    ProcessIndex index;
    index.reserve(records.size());
    for (const auto& record : records) index.try_emplace(record.pid, &record);
    return index;
}

// The record and at most eleven ancestors, nearest first; stops at a cycle.
std::vector<const ProcessRecord*> parentChain(const ProcessRecord& record, const ProcessIndex& index)
{
    std::vector<const ProcessRecord*> chain{&record};
    while (chain.size() < longestChain) {
        const auto parent = index.find(chain.back()->parent);
        if (parent == index.end()) break;
        const auto pid = parent->second->pid;
        if (std::any_of(chain.begin(), chain.end(), [pid](const ProcessRecord* member) { return member->pid == pid; }))
            break;
        chain.push_back(parent->second);
    }
    return chain;
}

ProcessGroup group(std::string id, std::string title, std::string subtitle, std::string impact, std::string symbol)
{
    ProcessGroup group;
    group.id = std::move(id);
    group.title = std::move(title);
    group.subtitle = std::move(subtitle);
    group.impact = std::move(impact);
    group.symbol = std::move(symbol);
    return group;
}

ProcessGroup simulatorGroup(const std::vector<const ProcessRecord*>& chain)
{
    constexpr std::string_view impact =
        "Stops simulator services and can interrupt an app or test. No parent alone does not prove they are unused.";
    const auto root = std::find_if(chain.begin(), chain.end(),
                                   [](const ProcessRecord* member) { return member->name == "launchd_sim"; });
    if (root == chain.end())
        return group("ios:0", "Detached iOS simulator services", "No simulator parent found \u00b7 review before stopping",
                     std::string(impact), "iphone.gen3");
    const auto pid = std::to_string((*root)->pid);
    return group("ios:" + pid, "iOS simulator", "Virtual iOS device \u00b7 session " + pid, std::string(impact),
                 "iphone.gen3");
}

ProcessGroup backgroundGroup(const ProcessRecord& record, const std::string& suffix)
{
    constexpr std::string_view impact = "Stops this process and may interrupt its current work.";
    // Without a known executable the name is the identity: "process:" alone
    // would merge every such process into one row.
    const auto identity = record.path.empty() ? "process-name:" + record.name : "process:" + record.path;
    const auto& name = record.name;
    if (name == "node" || name == "bun" || name.starts_with("python")) {
        const auto title = name == "node" ? std::string("Node.js workers") : name + " workers";
        return group(identity + suffix, title, "Scripts and development tools" + suffix, std::string(impact),
                     "terminal");
    }
    return group(identity, name, "Background process", std::string(impact), "terminal");
}

// An application a chain member belongs to: a bundle's path, or an
// installed application (which brings its title and icon).
struct FoundApplication {
    std::string path;
    const InstalledApplication* installed = nullptr;
};

ProcessGroup applicationGroup(const std::vector<const ProcessRecord*>& chain, const FoundApplication& found)
{
    const auto& application = found.path;
    const bool isCorvalent = std::any_of(chain.begin(), chain.end(),
                                         [](const ProcessRecord* member) { return member->name == "Corvalent"; });
    std::string title(lastComponent(application));
    if (title.ends_with(".app")) title.resize(title.size() - 4);
    if (found.installed != nullptr) title = found.installed->title;
    if (isCorvalent) title = "Corvalent";
    const auto impact = Classifier::runsContainers(title)
                            ? "Stops " + title + " processes, including local containers and databases."
                            : "Quits " + title + "; unsaved work or ongoing tasks may be interrupted.";
    auto result = group(isCorvalent ? "app:Corvalent" : "app:" + application, title, "Application & related helpers",
                        impact, "app");
    result.appPath = application;
    if (found.installed != nullptr) result.iconName = found.installed->icon;
    return result;
}

// Members: largest footprint first (unknown counts as 0), then by pid.
bool memberBefore(const ProcessRecord& a, const ProcessRecord& b)
{
    const auto memoryA = a.memory.value_or(0);
    const auto memoryB = b.memory.value_or(0);
    if (memoryA != memoryB) return memoryA > memoryB;
    return a.pid < b.pid;
}

// Groups: largest memory first, then by id in plain byte order.
bool groupBefore(const ProcessGroup& a, const ProcessGroup& b)
{
    if (a.memory != b.memory) return a.memory > b.memory;
    return a.id < b.id;
}

void sortGroups(std::vector<ProcessGroup>& groups)
{
    std::stable_sort(groups.begin(), groups.end(), groupBefore);
}

// The group's texts with other members, prepared in the members' order.
ProcessGroup withMembers(const ProcessGroup& base, std::vector<ProcessRecord> members)
{
    auto result = group(base.id, base.title, base.subtitle, base.impact, base.symbol);
    result.appPath = base.appPath;
    result.iconName = base.iconName;
    result.members = std::move(members);
    result.preparePresentation(false);
    return result;
}

using GroupMap = std::unordered_map<std::string, ProcessGroup>;

// The first record of an id fixes the group's texts; later ones only join.
void append(const ProcessRecord& record, ProcessGroup classified, GroupMap& map)
{
    auto [entry, inserted] = map.try_emplace(classified.id);
    if (inserted) entry->second = std::move(classified);
    entry->second.members.push_back(record);
}

std::vector<ProcessGroup> prepare(GroupMap& map)
{
    std::vector<ProcessGroup> groups;
    groups.reserve(map.size());
    for (auto& [id, group] : map) {
        group.preparePresentation(true);
        groups.push_back(std::move(group));
    }
    sortGroups(groups);
    return groups;
}

}  // namespace

void ProcessGroup::preparePresentation(bool sortMembers)
{
    if (sortMembers) std::stable_sort(members.begin(), members.end(), memberBefore);
    const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();

    memory = 0;
    incompleteMemory = false;
    cpu.reset();
    stoppable.clear();
    stoppableIDs.clear();
    stoppable.reserve(members.size());
    stoppableIDs.reserve(members.size());
    oldest = 0;
    searchText = title + " " + subtitle + " ";

    double cpuTotal = 0;
    bool hasCpu = false;
    bool firstName = true;
    for (const auto& member : members) {
        if (member.memory) {
            memory = saturatingAdd(memory, *member.memory);
        } else {
            incompleteMemory = true;
        }
        if (member.cpu) {
            cpuTotal += *member.cpu;
            hasCpu = true;
        }
        if (member.protection == ProcessProtection::none) {
            stoppable.push_back(member);
            stoppableIDs.insert(member.id());
        }
        oldest = std::max(oldest, now.count() - static_cast<double>(member.started) / 1'000'000.0);
        if (!firstName) searchText += ' ';
        searchText += member.name;
        firstName = false;
    }
    if (hasCpu) cpu = cpuTotal;
}

namespace Classifier {

std::optional<std::string> appPath(std::string_view path)
{
    const auto bundle = path.find(".app/");
    if (bundle == std::string_view::npos) return std::nullopt;
    return std::string(path.substr(0, bundle)) + ".app";
}

std::optional<std::string> appPath(std::string_view path, const ApplicationIndex& applications)
{
    if (auto bundle = appPath(path)) return bundle;
    if (const auto* installed = applications.locate(path)) return installed->location;
    return std::nullopt;
}

bool runsContainers(std::string_view title)
{
    static constexpr std::array<std::string_view, 11> runtimes{
        "OrbStack", "Docker Desktop",  "Docker",     "Podman Desktop", "Rancher Desktop", "Podman",
        "docker",   "com.docker.backend", "dockerd", "containerd",     "podman",
    };
    return std::find(runtimes.begin(), runtimes.end(), title) != runtimes.end();
}

std::optional<std::string> project(std::string_view cwd, const Paths::Home& home)
{
    for (const auto marker : projectMarkers) {
        const auto at = cwd.find(marker);
        if (at == std::string_view::npos) continue;
        auto rest = cwd.substr(at + marker.size());
        while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
        if (!rest.empty()) return std::string(rest.substr(0, rest.find('/')));
    }
    // Programs and services that are nobody's project run in the home folder
    // itself (the login name is no project) and the folders above it.
    const auto folder = withoutTrailingSlashes(cwd);
    if (folder.empty() || folder == "/home" || home.isAtOrBelow(folder)) return std::nullopt;
    // Below the home only what follows the home counts: the kernel names the
    // folder where it really is, perhaps below /var when the home is reached
    // through a link.
    const auto below = home.within(cwd);
    const auto place = below ? *below : cwd;
    if (contains(place, "/Library/") || contains(place, "/Application") || contains(place, "/.") ||
        (!below && (cwd.starts_with("/private/") || cwd.starts_with("/var/"))))
        return std::nullopt;
    return std::string(lastComponent(cwd));
}

}  // namespace Classifier

namespace {

// The application of each record's own executable, looked up once per
// record rather than once per chain it appears in.
class ApplicationLookup {
public:
    explicit ApplicationLookup(const ApplicationIndex& applications) : applications_(applications) {}

    std::optional<FoundApplication> operator()(const ProcessRecord& record)
    {
        if (contains(record.path, ".app/")) return FoundApplication{*Classifier::appPath(record.path), nullptr};
        if (applications_.size() == 0) return std::nullopt;
        const auto [known, inserted] = installed_.try_emplace(&record, nullptr);
        // A sandboxed program's own path names a place inside its sandbox.
        if (inserted)
            known->second = applications_.locate(
                record.path.starts_with("/app/") && !record.applicationHint.empty() ? record.applicationHint
                                                                                     : record.path);
        if (known->second == nullptr) return std::nullopt;
        return FoundApplication{known->second->location, known->second};
    }

private:
    const ApplicationIndex& applications_;
    std::unordered_map<const ProcessRecord*, const InstalledApplication*> installed_;
};

// The group one record belongs to, with no members yet.
ProcessGroup classifiedGroup(const ProcessRecord& record, const ProcessIndex& index, ApplicationLookup& lookup,
                             const Paths::Home& home)
{
    const auto chain = parentChain(record, index);

    std::string suffix;
    for (const auto* member : chain) {
        if (auto name = Classifier::project(member->cwd, home)) {
            suffix = " \u00b7 " + *name;
            break;
        }
    }
    std::optional<FoundApplication> application;
    for (const auto* member : chain) {
        if ((application = lookup(*member))) break;
    }

    const auto& name = record.name;
    const auto& path = record.path;
    const auto& role = record.role;
    if (contains(path, "qemu-system") || name == "emulator")
        return group("android" + suffix, "Android emulator", "Virtual Android device" + suffix,
                     "Closes the virtual device and interrupts running Android tests.", "iphone");
    if (role == "gradle" || role == "kotlin")
        return group("android-build", "Android build services", "Gradle & Kotlin compilation workers",
                     "Interrupts any active Android build. Services start again when a build needs them.", "hammer");
    if (contains(name, "lldb"))
        return group("debugger", "LLDB debugger", "Debugging and symbol information",
                     "Ends the debugging connection; the debugged app may stop or detach.", "ladybug");
    if (contains(path, "Code Helper (Plugin)"))
        return group("vscode-extensions", "VS Code extensions", "Editor plugins & language services",
                     "Interrupts editor extensions. VS Code may automatically restart them.", "puzzlepiece.extension");
    if (role == "automation" || contains(path, "/cua_node/"))
        return group("automation" + suffix, "Browser automation", "Coding-agent browser helpers" + suffix,
                     "Interrupts browser automation. A parentless helper is not necessarily abandoned.",
                     "cursorarrow.motionlines");
    if (contains(path, "/RuntimeRoot/") || name == "launchd_sim") return simulatorGroup(chain);
    if (contains(path, "codex") || name == "claude")
        return group("agent" + suffix, "Coding agent", "Active or waiting coding sessions" + suffix,
                     "Ends the selected coding sessions and interrupts their work.",
                     "chevron.left.forwardslash.chevron.right");
    if (role == "nextjs" || role == "tests" || role == "typescript") {
        const auto title = role == "nextjs" ? "Next.js server" : role == "tests" ? "JavaScript tests" : "TypeScript service";
        return group(role + suffix, title, "Development tools" + suffix,
                     "Stops this development tool. Its supervisor may restart it.", "hammer");
    }
    if (!application) return backgroundGroup(record, suffix);
    return applicationGroup(chain, *application);
}

}  // namespace

namespace Classifier {

std::vector<ProcessGroup> groups(const std::vector<ProcessRecord>& records, bool includeSystem,
                                 const ApplicationIndex& applications)
{
    const auto index = processIndex(records);
    ApplicationLookup lookup(applications);
    const auto home = Paths::Home::current();
    const auto user = ::getuid();
    GroupMap map;
    for (const auto& record : records) {
        if (includeSystem || record.uid == user) append(record, classifiedGroup(record, index, lookup, home), map);
    }
    return prepare(map);
}

ProcessGroupSets groupSets(const std::vector<ProcessRecord>& records, const ApplicationIndex& applications)
{
    const auto index = processIndex(records);
    ApplicationLookup lookup(applications);
    const auto home = Paths::Home::current();
    const auto user = ::getuid();
    const bool otherUserSeen =
        std::any_of(records.begin(), records.end(), [user](const ProcessRecord& record) { return record.uid != user; });
    GroupMap all;
    GroupMap own;
    for (const auto& record : records) {
        auto classified = classifiedGroup(record, index, lookup, home);
        if (otherUserSeen && record.uid == user) append(record, classified, own);
        append(record, std::move(classified), all);
    }
    ProcessGroupSets sets;
    sets.all = prepare(all);
    sets.user = otherUserSeen ? prepare(own) : sets.all;
    return sets;
}

std::vector<ProcessGroup> refreshedGroups(const std::vector<ProcessGroup>& groups, const RecordsByKey& records)
{
    std::vector<ProcessGroup> refreshed;
    refreshed.reserve(groups.size());
    for (const auto& old : groups) {
        std::vector<ProcessRecord> members;
        members.reserve(old.members.size());
        for (const auto& member : old.members) {
            const auto fresh = records.find(member.key());
            if (fresh != records.end()) members.push_back(*fresh->second);
        }
        if (!members.empty()) refreshed.push_back(withMembers(old, std::move(members)));
    }
    sortGroups(refreshed);
    return refreshed;
}

std::vector<ProcessGroup> groupsHidingProtected(const std::vector<ProcessGroup>& groups)
{
    std::vector<ProcessGroup> kept;
    kept.reserve(groups.size());
    for (const auto& group : groups) {
        if (group.stoppable.empty()) continue;
        if (group.stoppable.size() == group.members.size()) {
            kept.push_back(group);
            continue;
        }
        kept.push_back(withMembers(group, group.stoppable));
    }
    sortGroups(kept);
    return kept;
}

}  // namespace Classifier
}  // namespace corvalent
