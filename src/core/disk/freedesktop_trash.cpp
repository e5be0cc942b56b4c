#include "core/disk/freedesktop_trash.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "core/common/paths.h"

namespace corvalent::FreedesktopTrash {
namespace {

constexpr std::string_view infoSuffix = ".trashinfo";
// Longer "extensions" are mostly a dotted name; they are cut with the rest.
constexpr std::size_t longestKeptExtension = 32;

[[noreturn]] void fail(int error)
{
    throw Error(error);
}

std::string parentOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::optional<struct stat> lstatOf(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info;
}

// A folder of ours that is no link, made when missing.
bool ownFolder(const std::string& path, mode_t mode)
{
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    const auto info = lstatOf(path);
    if (!info) return false;
    errno = S_ISDIR(info->st_mode) ? EACCES : ENOTDIR;
    return S_ISDIR(info->st_mode) && info->st_uid == ::getuid();
}

bool makeFolders(const std::string& path)
{
    if (lstatOf(path)) return true;
    const auto parent = parentOf(path);
    if (parent != path && !makeFolders(parent)) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The device of a path, or of its nearest existing folder.
dev_t deviceOf(std::string path)
{
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) return info.st_dev;
        if (path == "/") return 0;
        path = parentOf(path);
    }
}

// The top folder of the file system that holds `path`: its highest folder
// on the same device.
std::string topFolderOf(const std::string& path, dev_t device)
{
    auto top = parentOf(path);
    while (top != "/") {
        const auto parent = parentOf(top);
        struct stat info {};
        if (::stat(parent.c_str(), &info) != 0 || info.st_dev != device) break;
        top = parent;
    }
    return top;
}

struct TrashFolder {
    std::string root;     // holds files/ and info/
    std::string topDir;   // empty for the home trash, whose Path= is absolute
};

TrashFolder trashFor(const std::string& path, dev_t device)
{
    const auto home = Paths::homeTrash();
    if (deviceOf(home) == device) {
        if (!makeFolders(home)) fail(errno);
        // Resolved, so that the trashed path holds no link for later checks.
        char* resolved = ::realpath(home.c_str(), nullptr);
        if (resolved == nullptr) fail(errno);
        std::string root(resolved);
        std::free(resolved);
        return {root, {}};
    }
    const auto top = topFolderOf(path, device);
    const auto sharedOwn = Paths::sharedTrashFolder(top, ::getuid());
    const auto shared = lstatOf(parentOf(sharedOwn));
    if (shared && S_ISDIR(shared->st_mode) && (shared->st_mode & S_ISVTX) != 0 && ownFolder(sharedOwn, 0700))
        return {sharedOwn, top};
    const auto own = Paths::ownTrashFolder(top, ::getuid());
    if (!ownFolder(own, 0700)) fail(errno);
    return {own, top};
}

std::string twoDigits(int value)
{
    return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// Local time, as the info file wants it: YYYY-MM-DDThh:mm:ss.
std::string deletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900) + "-" + twoDigits(local.tm_mon + 1) + "-" + twoDigits(local.tm_mday) +
           "T" + twoDigits(local.tm_hour) + ":" + twoDigits(local.tm_min) + ":" + twoDigits(local.tm_sec);
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const auto n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Renames without replacing. Where the file system cannot do that, a file is
// linked and unlinked instead; a folder is refused (EINVAL).
int moveNoReplace(const std::string& from, const std::string& to, bool isDirectory)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL || isDirectory) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

// The name an item gets in the Trash on a given attempt: its own, then
// "report.2.pdf", "report.3.pdf"... so that the extension stays recognisable.
// The part before the extension is cut, never inside a UTF-8 sequence, when
// the info file's name "<name>.trashinfo" would pass `longestName`.
std::string trashName(std::string_view name, std::uint64_t attempt, std::size_t longestName)
{
    const auto suffix = attempt == 0 ? std::string() : "." + std::to_string(attempt + 1);
    const auto room = longestName > infoSuffix.size() + suffix.size() ? longestName - infoSuffix.size() - suffix.size()
                                                                      : std::size_t{1};
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > longestKeptExtension ||
        name.size() - dot >= room)
        dot = name.size();
    auto stem = name.substr(0, dot);
    const auto extension = name.substr(dot);
    if (stem.size() + extension.size() > room) {
        auto cut = room - extension.size();
        auto whole = cut;
        while (whole > 0 && (static_cast<unsigned char>(stem[whole]) & 0xC0) == 0x80) --whole;
        stem = stem.substr(0, whole > 0 ? whole : cut);  // bytes that are no UTF-8 are cut where they fall
    }
    return std::string(stem).append(suffix).append(extension);
}

// The trash folder of a trashed item, and the top folder its Path= is relative to.
TrashFolder trashHolding(const std::string& trashedPath)
{
    const auto root = parentOf(parentOf(trashedPath));
    const auto top = parentOf(root);
    if (root == Paths::ownTrashFolder(top, ::getuid())) return {root, top};
    if (root == Paths::sharedTrashFolder(parentOf(top), ::getuid())) return {root, parentOf(top)};
    return {root, {}};
}

// A mount point cannot be renamed away from its mount: it is refused before
// any Trash folder is made on the file system it is mounted on.
bool isMountPoint(const std::string& path, const struct stat& item)
{
    struct stat parent {};
    if (::stat(parentOf(path).c_str(), &parent) == 0 && parent.st_dev != item.st_dev) return true;
    // A bind mount of a folder of the same file system keeps its device.
    struct statx extended {};
    return ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &extended) == 0 &&
           (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

std::size_t longestNameIn(const std::string& folder)
{
    const auto limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : std::size_t{NAME_MAX};
}

}  // namespace

Error::Error(int code) : std::runtime_error(std::generic_category().message(code)), code_(code) {}

std::string percentEncoded(std::string_view path)
{
    constexpr std::string_view unreserved = "-_.!~*'()/";
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            unreserved.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xF]);
        }
    }
    return out;
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            out.push_back(static_cast<char>(value));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

Placement moveToTrash(const std::string& path, bool isDirectory)
{
    const auto item = lstatOf(path);
    if (!item) fail(errno);
    if (isMountPoint(path, *item)) fail(EBUSY);
    const auto trash = trashFor(path, item->st_dev);
    if (!ownFolder(trash.root + "/files", 0700) || !ownFolder(trash.root + "/info", 0700)) fail(errno);

    const auto relative = trash.topDir.empty() ? path
                          : trash.topDir == "/" ? path.substr(1)
                                                : path.substr(trash.topDir.size() + 1);
    const auto info = "[Trash Info]\nPath=" + percentEncoded(relative) + "\nDeletionDate=" + deletionDate() + "\n";
    const auto name = nameOf(path);
    const auto longestName = longestNameIn(trash.root + "/info");
    // The info file's O_EXCL creation decides which name is free; every
    // attempt gives another name, so a free one is always found.
    for (std::uint64_t attempt = 0;; ++attempt) {
        const auto inTrash = trashName(name, attempt, longestName);
        const Placement placement{trash.root + "/files/" + inTrash,
                                  trash.root + "/info/" + inTrash + std::string(infoSuffix)};
        const int fd = ::open(placement.infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            fail(errno);  // a full disk, no permission: trying other names will not help
        }
        const bool written = writeAll(fd, info);
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(placement.infoPath.c_str());
            fail(writeError != 0 ? writeError : EIO);
        }
        const int moved = moveNoReplace(path, placement.trashedPath, isDirectory);
        if (moved == 0) return placement;
        ::unlink(placement.infoPath.c_str());
        if (moved != EEXIST && moved != ENOTEMPTY) fail(moved);
    }
}

void moveBack(const std::string& trashedPath, const std::string& originalPath, bool isDirectory)
{
    const int moved = moveNoReplace(trashedPath, originalPath, isDirectory);
    if (moved == ENOTEMPTY) fail(EEXIST);
    if (moved != 0) fail(moved);
}

void removeInfo(const std::string& trashedPath, const std::string& originalPath)
{
    const auto trash = trashHolding(trashedPath);
    const auto infoPath = trash.root + "/info/" + nameOf(trashedPath) + std::string(infoSuffix);
    const auto info = lstatOf(infoPath);
    if (!info || !S_ISREG(info->st_mode)) return;
    std::ifstream file(infoPath);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.starts_with("Path=")) continue;
        auto named = percentDecoded(line.substr(5));
        if (!named.starts_with("/")) named = (trash.topDir == "/" ? "" : trash.topDir) + "/" + named;
        if (named == originalPath) ::unlink(infoPath.c_str());
        return;
    }
}

}  // namespace corvalent::FreedesktopTrash
