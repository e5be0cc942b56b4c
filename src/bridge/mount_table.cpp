#include "bridge/mount_table.h"

#include <unistd.h>
#include <cerrno>
#include <climits>

#include <algorithm>
#include <charconv>
#include <iterator>

namespace corvalent {
namespace {

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> parts;
    while (!line.empty()) {
        const auto space = line.find(' ');
        if (space != 0) parts.push_back(line.substr(0, space));
        if (space == std::string_view::npos) break;
        line.remove_prefix(space + 1);
    }
    return parts;
}

const MountEntry* withId(const std::vector<MountEntry>& table, std::uint64_t id)
{
    const auto found = std::find_if(table.begin(), table.end(), [id](const MountEntry& m) { return m.id == id; });
    return found == table.end() ? nullptr : &*found;
}

// Where `path`, at or below the mount's mount point, lies on its file system.
std::string onFileSystem(const MountEntry& mount, std::string_view path)
{
    auto rest = mount.mountPoint == "/" ? path : path.substr(mount.mountPoint.size());
    if (rest == "/") rest = {};
    if (mount.root == "/") return rest.empty() ? std::string("/") : std::string(rest);
    return mount.root + std::string(rest);
}

}  // namespace

std::optional<std::string> readMountInfo(int file)
{
    std::string text;
    char buffer[16 * 1'024];
    for (;;) {
        const auto read = ::read(file, buffer, sizeof buffer);
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) return std::nullopt;
        if (read == 0) return text;
        text.append(buffer, static_cast<std::size_t>(read));
    }
}

std::string pathOfOpen(int descriptor)
{
    std::string path(PATH_MAX, '\0');
    const auto length = ::readlink(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
    path.resize(static_cast<std::size_t>(length));
    return path;
}

std::string unescapedMountField(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '\\' && i + 3 < text.size()) {
            const auto digits = text.substr(i + 1, 3);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 8);
            if (error == std::errc{} && end == digits.data() + 3 && value < 256) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const auto line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

        const auto parts = fields(line);
        const auto separator = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 6 || separator == parts.end() || std::distance(separator, parts.end()) < 3 ||
            std::distance(parts.begin(), separator) < 6)
            continue;
        MountEntry entry;
        const auto number = [](std::string_view field, std::uint64_t& value) {
            return std::from_chars(field.data(), field.data() + field.size(), value).ec == std::errc{};
        };
        if (!number(parts[0], entry.id) || !number(parts[1], entry.parent)) continue;
        const auto device = parts[2];
        const auto colon = device.find(':');
        if (colon == std::string_view::npos) continue;
        const auto majorEnd = std::from_chars(device.data(), device.data() + colon, entry.major);
        const auto minorEnd = std::from_chars(device.data() + colon + 1, device.data() + device.size(), entry.minor);
        if (majorEnd.ec != std::errc{} || minorEnd.ec != std::errc{}) continue;
        entry.root = unescapedMountField(parts[3]);
        entry.mountPoint = unescapedMountField(parts[4]);
        entry.fileSystem = unescapedMountField(*(separator + 1));
        entry.source = unescapedMountField(*(separator + 2));
        entries.push_back(std::move(entry));
    }
    return entries;
}

const MountEntry* mountHolding(const std::vector<MountEntry>& table, std::string_view path)
{
    const MountEntry* holding = nullptr;
    for (const auto& entry : table)
        if (isAtOrBelow(path, entry.mountPoint) &&
            (holding == nullptr || entry.mountPoint.size() >= holding->mountPoint.size()))
            holding = &entry;
    return holding;
}

bool holdsMountPoint(const std::vector<MountEntry>& table, std::string_view path, std::uint64_t mountId)
{
    const auto* holding = mountId != 0 ? withId(table, mountId) : nullptr;
    if (holding == nullptr || !isAtOrBelow(path, holding->mountPoint)) holding = mountHolding(table, path);
    const auto folder = holding != nullptr ? onFileSystem(*holding, path) : std::string();
    for (const auto& mount : table) {
        if (isAtOrBelow(mount.mountPoint, path)) return true;
        const auto* parent = withId(table, mount.parent);
        if (holding == nullptr || parent == nullptr || parent == &mount || parent->major != holding->major ||
            parent->minor != holding->minor || !isAtOrBelow(mount.mountPoint, parent->mountPoint))
            continue;
        if (isAtOrBelow(onFileSystem(*parent, mount.mountPoint), folder)) return true;
    }
    return false;
}

bool isAtOrBelow(std::string_view path, std::string_view folder)
{
    if (folder == "/") return path.starts_with('/');
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace corvalent
