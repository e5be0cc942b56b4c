#pragma once

// Parsers for the text files of /proc. Kept apart from the reads so that the
// rules can be exercised on exact inputs (sizes, odd names, missing fields).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvalent::proc_text {

// The fields of /proc/PID/stat that a process read needs.
struct StatFields {
    std::string_view comm;  // between the first "(" and the last ")"
    char state = 0;
    std::int32_t parent = 0;
    std::uint64_t flags = 0;
    std::uint64_t utimeTicks = 0;
    std::uint64_t stimeTicks = 0;
    std::uint64_t startTicks = 0;
    // Changes when the process runs another program (or renames itself):
    // a digest of the command name and of where the kernel laid out the
    // program's code and arguments (fields the kernel shows only to those
    // who may trace the process; to others they read the same every time).
    std::uint64_t image = 0;
};

// Kernel thread flag of the stat line's flags field.
inline constexpr std::uint64_t kernelThreadFlag = 0x00200000;

std::optional<StatFields> parseStat(std::string_view text);

// The fields of /proc/PID/status that a process read needs.
struct StatusFields {
    std::optional<std::uint32_t> effectiveUid;
    std::optional<std::uint64_t> rssAnonKiB;
    std::optional<std::uint64_t> vmSwapKiB;
};

StatusFields parseStatus(std::string_view text);

// Anonymous resident pages from /proc/PID/statm: resident minus shared
// (file and shared-memory pages), the figure status shows as RssAnon.
std::optional<std::uint64_t> anonymousPagesFromStatm(std::string_view text);

// A "Key:   123 kB" figure of /proc/meminfo, in KiB.
std::optional<std::uint64_t> meminfoKiB(std::string_view text, std::string_view key);

// avg10 of the "some" or "full" line of /proc/pressure/memory, in percent.
std::optional<double> pressureAvg10(std::string_view text, std::string_view kind);

// Thresholds that turn the kernel's figures into the three pressure levels.
// PSI avg10 is the share of the last ten seconds in which tasks stalled on
// memory; the available share is MemAvailable / MemTotal.
inline constexpr double elevatedSomeStallPercent = 10.0;
inline constexpr double criticalFullStallPercent = 10.0;
inline constexpr double elevatedAvailableShare = 0.15;
inline constexpr double criticalAvailableShare = 0.05;

// 1 normal, 2 elevated, 4 critical; 0 when no figure is known.
std::int32_t pressureLevel(std::optional<double> someAvg10, std::optional<double> fullAvg10,
                           std::optional<std::uint64_t> availableKiB, std::optional<std::uint64_t> totalKiB);

// Swap in use in bytes from /proc/meminfo: 0 without swap, -1 when unreadable.
std::int64_t swapUsedBytes(std::string_view meminfo);

// Largest argument area that is searched for a role; larger ones give none.
inline constexpr std::size_t maxArgumentArea = 1'048'576;

// The development role of a NUL-separated argument area (/proc/PID/cmdline):
// each argument is tested against the role markers in order, the first
// marker it contains decides its role, and the last matching argument wins.
// An argument not terminated within the area is not looked at.
std::string_view roleFromArguments(std::string_view area);

// Whether a process of this name gets its arguments scanned for a role.
bool nameWantsRole(std::string_view name);

// The executable's file name from a link target; empty for a memory file
// ("/memfd:…") or a file the kernel marks " (deleted)", whose name says
// nothing about the program (the kernel's command name stands then).
std::string_view executableName(std::string_view exePath);

// The Flatpak application id of a process from its /proc/PID/cgroup text:
// the sandbox runs in a unit "app-flatpak-<id>-<number>.scope". Empty for any
// other cgroup or a malformed one.
std::string_view flatpakAppFromCgroup(std::string_view text);

}  // namespace corvalent::proc_text
