#pragma once

// Process records, samples of the process table, and their grouping into the
// rows of the process workspace.
//
// Texts taken from the kernel (name, path, cwd, role) keep the kernel's bytes:
// a path that is not valid UTF-8 still names the same file when it is handed
// back to the bridge. Views decode them as UTF-8, replacing what is ill-formed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/common/paths.h"
#include "core/process/desktop_entries.h"
#include "core/process/memory_pressure.h"
#include "core/process/process_protection.h"
#include "core/common/uptime.h"

namespace corvalent {

// The identity of one process instance, as `ProcessRecord::id()` spells it.
struct ProcessKey {
    std::int32_t pid = 0;
    std::uint64_t started = 0;
    bool operator==(const ProcessKey&) const = default;
};

struct ProcessKeyHash {
    std::size_t operator()(const ProcessKey& key) const noexcept
    {
        return std::hash<std::uint64_t>{}(key.started ^ (static_cast<std::uint64_t>(key.pid) << 40));
    }
};

// One sampled process.
struct ProcessRecord {
    std::int32_t pid = 0;
    std::int32_t parent = 0;
    std::uint32_t uid = 0;
    std::uint64_t started = 0;  // microseconds since 1970
    std::uint64_t cpuTime = 0;  // nanoseconds
    std::optional<std::uint64_t> memory;
    std::string name;
    std::string path;  // "" when unknown
    std::string cwd;   // "" when unknown or another user's process
    std::string role;  // development role from the arguments, or ""
    std::optional<double> cpu;  // percent of one core since the previous sample
    ProcessProtection protection = ProcessProtection::none;
    // Where a sandboxed program's application is installed (a Flatpak's
    // installation folder), since its own path names a place inside the
    // sandbox; "" for everything else.
    std::string applicationHint;
    // Changes when the process runs another program: the next sample reads
    // name, path and role again only then (0: never matches).
    std::uint64_t image = 0;

    // A record whose protection is decided by the bridge's rules.
    static ProcessRecord make(std::int32_t pid, std::int32_t parent, std::uint32_t uid, std::uint64_t started,
                              std::uint64_t cpuTime, std::optional<std::uint64_t> memory, std::string name,
                              std::string path, std::string cwd, std::string role,
                              std::optional<double> cpu = std::nullopt);

    // "pid:started": one process instance; a reused pid gets a new id.
    std::string id() const;
    ProcessKey key() const { return {pid, started}; }
    // Seconds since the start, never negative.
    double age() const;
    bool isProtected() const { return protection != ProcessProtection::none; }

    bool operator==(const ProcessRecord&) const = default;
};

// One sample of the process table.
struct ScanResult {
    std::vector<ProcessRecord> records;  // in the kernel's list order, cpu absent
    MemoryPressure pressure = MemoryPressure::unavailable;
    std::optional<std::uint64_t> swap;
    double timestamp = 0;  // uptime seconds when the sample ended
    double duration = 0;   // seconds the sample took
};

namespace Scanner {

// One sample. With the previous sample, a process still running the program
// it ran then keeps that record's name, path, role and application hint
// instead of reading them again; its working folder is read at every sample.
ScanResult scan(const ScanResult* previous = nullptr);
std::optional<ProcessRecord> read(std::int32_t pid);
// The bridge's code: 0 sent, ESRCH gone, ESTALE another process, EPERM protected.
std::int32_t signal(const ProcessRecord& record, bool force);
std::optional<double> cpu(const ProcessRecord& current, const ProcessRecord* previous, double elapsed);

}  // namespace Scanner

// A row of the process workspace: related processes with their totals.
struct ProcessGroup {
    std::string id;
    std::string title;
    std::string subtitle;
    std::string impact;
    std::string symbol;
    std::optional<std::string> appPath;
    std::string iconName;  // the installed application's icon, "" when none
    std::vector<ProcessRecord> members;

    // Derived from `members` by preparePresentation.
    std::uint64_t memory = 0;
    bool incompleteMemory = false;
    std::optional<double> cpu;
    std::vector<ProcessRecord> stoppable;
    std::unordered_set<std::string> stoppableIDs;
    double oldest = 0;
    std::string searchText;

    void preparePresentation(bool sortMembers);
};

// The group lists of one sample: all users' processes and the current user's.
struct ProcessGroupSets {
    std::vector<ProcessGroup> all;
    std::vector<ProcessGroup> user;
};

namespace Classifier {

// The application bundle that holds an executable path ("/A/Mail.app/x" -> "/A/Mail.app").
std::optional<std::string> appPath(std::string_view path);
// The same, else the location of the installed application that holds it.
std::optional<std::string> appPath(std::string_view path, const ApplicationIndex& applications);
// The project a working folder belongs to, if any; `home` in either spelling.
std::optional<std::string> project(std::string_view cwd, const Paths::Home& home);
// True for a group title of a container runtime (an application or its
// command-line daemon), whose stop interrupts local containers and databases.
bool runsContainers(std::string_view title);

std::vector<ProcessGroup> groups(const std::vector<ProcessRecord>& records, bool includeSystem,
                                 const ApplicationIndex& applications = {});
ProcessGroupSets groupSets(const std::vector<ProcessRecord>& records, const ApplicationIndex& applications = {});
// Records of one sample by identity.
using RecordsByKey = std::unordered_map<ProcessKey, const ProcessRecord*, ProcessKeyHash>;

// The same groups with each member replaced by its record of a new sample;
// members that are gone are dropped, and so are emptied groups.
std::vector<ProcessGroup> refreshedGroups(const std::vector<ProcessGroup>& groups, const RecordsByKey& records);
std::vector<ProcessGroup> groupsHidingProtected(const std::vector<ProcessGroup>& groups);

}  // namespace Classifier

}  // namespace corvalent
