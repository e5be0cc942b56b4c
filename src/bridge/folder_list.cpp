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
#include <filesystem>
#include <optional>
#include <vector>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "bridge/walk_mounts.h"

namespace corvalent {
namespace {

// `path` with "." and ".." taken away by spelling alone, without a trailing slash.
std::string lexicallyNormal(const std::string& path)
{
    auto normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
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
        if (mountHolding(mounts, path) != mountHolding(mounts, folderPath)) return PLFolderKind::elsewhere;
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
    const auto folderPath = pathOfOpen(folder.get());
    const FileDescriptor tableFile(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    const auto text = tableFile.valid() ? readMountInfo(tableFile.get()) : std::nullopt;
    const auto table = parseMountInfo(text.value_or(std::string()));
    const auto mounts = folderPath.empty() ? nullptr : walk::mountsBelow(table, folderPath);
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
