#include "core/freedesktop_trash.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "core/disk_insights.h"
#include "core/disk_trash.h"

namespace corvalent::FreedesktopTrash {
namespace {

constexpr int nameAttempts = 100;

[[noreturn]] void fail(int error)
{
    throw DiskTrashError::unavailable(std::generic_category().message(error));
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

std::string homeTrash()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const auto base = dataHome != nullptr && dataHome[0] == '/' ? std::string(dataHome)
                                                                : DiskInsights::homeFolder() + "/.local/share";
    return DiskInsights::standardizedPath(base) + "/Trash";
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
    const auto home = homeTrash();
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
    const auto prefix = top == "/" ? std::string() : top;
    const auto uid = std::to_string(::getuid());
    const auto shared = lstatOf(prefix + "/.Trash");
    if (shared && S_ISDIR(shared->st_mode) && (shared->st_mode & S_ISVTX) != 0 && ownFolder(prefix + "/.Trash/" + uid, 0700))
        return {prefix + "/.Trash/" + uid, top};
    if (!ownFolder(prefix + "/.Trash-" + uid, 0700)) fail(errno);
    return {prefix + "/.Trash-" + uid, top};
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

std::string candidateName(const std::string& name, int attempt)
{
    if (attempt == 0) return name;
    // "report.pdf" becomes "report.2.pdf": the extension stays recognisable.
    const auto dot = name.rfind('.');
    const auto suffix = "." + std::to_string(attempt + 1);
    if (dot == std::string::npos || dot == 0) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

// The trash folder of a trashed item, and the top folder its Path= is relative to.
TrashFolder trashHolding(const std::string& trashedPath)
{
    const auto root = parentOf(parentOf(trashedPath));
    const auto rootName = nameOf(root);
    if (rootName.starts_with(".Trash-")) return {root, parentOf(root)};
    const auto parent = parentOf(root);
    if (nameOf(parent) == ".Trash") return {root, parentOf(parent)};
    return {root, {}};
}

}  // namespace

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
    const auto trash = trashFor(path, item->st_dev);
    if (!ownFolder(trash.root + "/files", 0700) || !ownFolder(trash.root + "/info", 0700)) fail(errno);

    const auto relative = trash.topDir.empty() ? path
                          : trash.topDir == "/" ? path.substr(1)
                                                : path.substr(trash.topDir.size() + 1);
    const auto info = "[Trash Info]\nPath=" + percentEncoded(relative) + "\nDeletionDate=" + deletionDate() + "\n";
    const auto name = nameOf(path);
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const auto trashName = candidateName(name, attempt);
        const Placement placement{trash.root + "/files/" + trashName, trash.root + "/info/" + trashName + ".trashinfo"};
        const int fd = ::open(placement.infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            fail(errno);  // a name too long, a full disk: trying other names will not help
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
    fail(EEXIST);
}

void moveBack(const std::string& trashedPath, const std::string& originalPath, bool isDirectory)
{
    const int moved = moveNoReplace(trashedPath, originalPath, isDirectory);
    if (moved == EEXIST || moved == ENOTEMPTY) throw DiskTrashError(DiskTrashError::Kind::destinationExists);
    if (moved != 0) fail(moved);
}

void removeInfo(const std::string& trashedPath, const std::string& originalPath)
{
    const auto trash = trashHolding(trashedPath);
    const auto infoPath = trash.root + "/info/" + nameOf(trashedPath) + ".trashinfo";
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
