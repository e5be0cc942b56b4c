#include "bridge/proc_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <limits>

namespace corvalent::proc_text {
namespace {

constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// Where the blanks at the start of `text` end (its size when all are blank).
// A plain loop: a sample splits some fifty fields for every process.
std::size_t blanksEnd(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at])) ++at;
    return at;
}

// Splits off the next blank-separated field of `rest`.
std::string_view nextField(std::string_view& rest)
{
    const auto begin = blanksEnd(rest);
    auto end = begin;
    while (end < rest.size() && !isBlank(rest[end])) ++end;
    const auto field = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return field;
}

template <typename Number>
std::optional<Number> number(std::string_view text)
{
    text.remove_prefix(blanksEnd(text));
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end == text.data()) return std::nullopt;
    return value;
}

// The rest of the line that starts with `key` followed by `separator`.
std::optional<std::string_view> keyedLine(std::string_view text, std::string_view key, char separator = ':')
{
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const auto line = text.substr(at, end - at);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == separator)
            return line.substr(key.size() + 1);
        at = end + 1;
    }
    return std::nullopt;
}

struct RoleMarker {
    std::string_view marker;
    std::string_view role;
};

constexpr std::array roleMarkers{
    RoleMarker{"GradleDaemon", "gradle"},     RoleMarker{"KotlinCompileDaemon", "kotlin"},
    RoleMarker{"trusted-worker.js", "automation"}, RoleMarker{"tsserver.js", "typescript"},
    RoleMarker{"vitest", "tests"},            RoleMarker{"next-server", "nextjs"},
    RoleMarker{"/next/dist/", "nextjs"},
};

}  // namespace

std::optional<StatFields> parseStat(std::string_view text)
{
    // The name may hold spaces and parentheses: it ends at the last ')'.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;

    StatFields fields;
    fields.comm = text.substr(open + 1, close - open - 1);
    auto rest = text.substr(close + 1);
    // Fields after the name, counted from 3 (state) as proc(5) numbers them;
    // kernels before 3.5 end at field 44.
    std::array<std::string_view, 47> after{};
    for (auto& field : after) field = nextField(rest);
    if (after[19].empty()) return std::nullopt;  // starttime is field 22

    if (after[0].size() != 1) return std::nullopt;
    fields.state = after[0][0];
    const auto parent = number<std::int32_t>(after[1]);
    const auto flags = number<std::uint64_t>(after[6]);
    const auto utime = number<std::uint64_t>(after[11]);
    const auto stime = number<std::uint64_t>(after[12]);
    const auto start = number<std::uint64_t>(after[19]);
    if (!parent || !flags || !utime || !stime || !start) return std::nullopt;
    fields.parent = *parent;
    fields.flags = *flags;
    fields.utimeTicks = *utime;
    fields.stimeTicks = *stime;
    fields.startTicks = *start;
    // startcode, endcode (26, 27), arg_start, arg_end (48, 49).
    const std::hash<std::string_view> digest;
    fields.image = digest(fields.comm);
    for (const auto index : {23, 24, 45, 46})
        fields.image = fields.image * 1'099'511'628'211ULL ^ digest(after[index]);
    return fields;
}

StatusFields parseStatus(std::string_view text)
{
    StatusFields fields;
    if (const auto uids = keyedLine(text, "Uid")) {
        auto rest = *uids;
        nextField(rest);  // real uid; the effective one follows
        fields.effectiveUid = number<std::uint32_t>(nextField(rest));
    }
    if (const auto line = keyedLine(text, "RssAnon")) fields.rssAnonKiB = number<std::uint64_t>(*line);
    if (const auto line = keyedLine(text, "VmSwap")) fields.vmSwapKiB = number<std::uint64_t>(*line);
    return fields;
}

std::optional<std::uint64_t> anonymousPagesFromStatm(std::string_view text)
{
    nextField(text);  // total program size
    const auto resident = number<std::uint64_t>(nextField(text));
    const auto shared = number<std::uint64_t>(nextField(text));
    if (!resident || !shared) return std::nullopt;
    return *resident > *shared ? *resident - *shared : 0;
}

std::optional<std::uint64_t> meminfoKiB(std::string_view text, std::string_view key)
{
    const auto line = keyedLine(text, key);
    if (!line) return std::nullopt;
    return number<std::uint64_t>(*line);
}

std::optional<double> pressureAvg10(std::string_view text, std::string_view kind)
{
    const auto line = keyedLine(text, kind, ' ');
    if (!line) return std::nullopt;
    const auto avg = line->find("avg10=");
    if (avg == std::string_view::npos) return std::nullopt;
    const auto value = number<double>(line->substr(avg + 6));
    if (!value || !(*value >= 0.0)) return std::nullopt;
    return value;
}

std::int32_t pressureLevel(std::optional<double> someAvg10, std::optional<double> fullAvg10,
                           std::optional<std::uint64_t> availableKiB, std::optional<std::uint64_t> totalKiB)
{
    std::optional<double> availableShare;
    if (availableKiB && totalKiB && *totalKiB > 0)
        availableShare = static_cast<double>(*availableKiB) / static_cast<double>(*totalKiB);
    if (!someAvg10 && !fullAvg10 && !availableShare) return 0;

    if ((fullAvg10 && *fullAvg10 >= criticalFullStallPercent) ||
        (availableShare && *availableShare < criticalAvailableShare))
        return 4;
    if ((someAvg10 && *someAvg10 >= elevatedSomeStallPercent) ||
        (availableShare && *availableShare < elevatedAvailableShare))
        return 2;
    return 1;
}

std::int64_t swapUsedBytes(std::string_view meminfo)
{
    const auto total = meminfoKiB(meminfo, "SwapTotal");
    const auto free = meminfoKiB(meminfo, "SwapFree");
    if (!total || !free) return -1;
    if (*free >= *total) return 0;
    const auto usedKiB = *total - *free;
    constexpr auto maxKiB = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 1024;
    return usedKiB > maxKiB ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(usedKiB * 1024);
}

std::string_view roleFromArguments(std::string_view area)
{
    if (area.size() > maxArgumentArea) return {};
    std::string_view role;
    while (!area.empty()) {
        const auto length = strnlen(area.data(), area.size());
        if (length == area.size()) break;  // not terminated within the area
        const auto argument = area.substr(0, length);
        for (const auto& marker : roleMarkers) {
            if (argument.find(marker.marker) != std::string_view::npos) {
                role = marker.role;
                break;
            }
        }
        area.remove_prefix(length + 1);
    }
    return role;
}

bool nameWantsRole(std::string_view name)
{
    return name.find("node") != std::string_view::npos || name == "java";
}

std::string_view executableName(std::string_view exePath)
{
    if (exePath.starts_with("/memfd:") || exePath.ends_with(" (deleted)")) return {};
    const auto slash = exePath.rfind('/');
    return slash == std::string_view::npos ? exePath : exePath.substr(slash + 1);
}

std::string_view flatpakAppFromCgroup(std::string_view text)
{
    constexpr std::string_view prefix = "app-flatpak-";
    constexpr std::string_view suffix = ".scope";
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // "hierarchy:controllers:path"; the unified hierarchy has no controllers.
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        line.remove_prefix(second + 1);
        auto unit = line.substr(line.rfind('/') + 1);
        if (!unit.starts_with(prefix) || !unit.ends_with(suffix)) continue;
        unit = unit.substr(prefix.size(), unit.size() - prefix.size() - suffix.size());
        const auto dash = unit.rfind('-');
        if (dash == std::string_view::npos || dash == 0 || dash + 1 == unit.size()) continue;
        const auto number = unit.substr(dash + 1);
        const auto id = unit.substr(0, dash);
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        // An id is reverse-DNS: never a path of its own.
        const auto idChar = [&](char c) {
            return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' || c == '-';
        };
        if (std::all_of(number.begin(), number.end(), digit) && std::all_of(id.begin(), id.end(), idChar) &&
            id.find("..") == std::string_view::npos && id.front() != '.')
            return id;
    }
    return {};
}

}  // namespace corvalent::proc_text
