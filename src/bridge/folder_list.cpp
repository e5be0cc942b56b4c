#include "bridge/folder_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <climits>
#include <optional>
#include <string_view>
#include <vector>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "bridge/walk_mounts.h"

namespace corvalent {
namespace {

std::string readText(const char* path)
{
    const FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    std::string text;
    char buffer[16 * 1'024];
    for (ssize_t got; file.valid() && (got = ::read(file.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

std::string pathOf(int fd)
{
    std::string path(PATH_MAX, '\0');
    const auto length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
    path.resize(static_cast<std::size_t>(length));
    return path;
}

// `path` with "." and ".." taken away by spelling alone.
std::string lexicallyNormal(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto part = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto part : parts) (out += '/') += part;
    return out.empty() ? "/" : out;
}

// The mount point of the mount that holds `path`, by the table.
std::string holdingMount(const std::vector<MountEntry>& mounts, std::string_view path)
{
    std::string best = "/";
    for (const auto& mount : mounts) {
        const std::string_view point = mount.mountPoint;
        const bool holds = point == "/" || (path.starts_with(point) && (path.size() == point.size() ||
                                                                          path[point.size()] == '/'));
        if (holds && point.size() >= best.size()) best = mount.mountPoint;
    }
    return best;
}

// What a link leads to, without ever touching another file system than the
// folder's: first resolved without crossing a mount; a link that leads from
// a mount of its own back up to "/" then goes by its spelling and the mount
// table, and is looked at only where it lands on the folder's mount with no
// further link on the way. Nothing when it is broken or not a folder.
std::optional<PLFolderKind> linkTarget(int folder, const char* name, const std::string& folderPath,
                                       const std::vector<MountEntry>& mounts)
{
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_XDEV;
    FileDescriptor target(static_cast<int>(::syscall(SYS_openat2, folder, name, &how, sizeof how)));
    if (!target.valid() && errno == EXDEV) {
        std::string link(PATH_MAX, '\0');
        const auto length = ::readlinkat(folder, name, link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size() || folderPath.empty()) return std::nullopt;
        link.resize(static_cast<std::size_t>(length));
        const auto path = lexicallyNormal(link.front() == '/' ? link : folderPath + '/' + link);
        if (holdingMount(mounts, path) != holdingMount(mounts, folderPath)) return PLFolderKind::elsewhere;
        how.resolve = RESOLVE_NO_SYMLINKS;
        target.reset(static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how)));
        if (!target.valid() && errno == ELOOP) return PLFolderKind::elsewhere;
    }
    if (!target.valid()) return std::nullopt;
    struct stat info {};
    if (::fstat(target.get(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    return PLFolderKind::linkedFolder;
}

}  // namespace

PLFolderListing pl_list_folders(const char* path)
{
    PLFolderListing listing;
    if (path == nullptr || path[0] != '/') {
        listing.error = EINVAL;
        return listing;
    }
    const int opened = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        listing.error = errno;
        return listing;
    }
    FileDescriptor folder(opened);
    // From the mount table, before anything below is looked at.
    const auto folderPath = pathOf(folder.get());
    const auto text = readText("/proc/self/mountinfo");
    const auto table = parseMountInfo(text);
    const auto mounts = folderPath.empty() ? nullptr : walk::mountsBelow(text, folderPath);
    DIR* stream = ::fdopendir(::dup(folder.get()));
    if (stream == nullptr) {
        listing.error = errno;
        return listing;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) {
            listing.error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        auto type = entry->d_type;
        const auto* place = mounts ? mounts->find(name) : nullptr;
        if (place != nullptr && place->mountPoint) {
            // The listing gives the kind of what lies under the mount, on this file system.
            if (type == DT_DIR || type == DT_UNKNOWN) listing.entries.push_back({name, PLFolderKind::mountPoint});
            continue;
        }
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(folder.get(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) {
            listing.entries.push_back({name, PLFolderKind::folder});
        } else if (type == DT_LNK) {
            if (const auto kind = linkTarget(folder.get(), name, folderPath, table))
                listing.entries.push_back({name, *kind});
        }
    }
    ::closedir(stream);
    return listing;
}

}  // namespace corvalent
