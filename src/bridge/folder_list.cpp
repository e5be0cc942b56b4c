#include "bridge/folder_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <optional>

#include "bridge/file_descriptor.h"
#include "bridge/walk_mounts.h"

namespace corvalent {
namespace {

// What a link leads to, resolved without ever leaving the folder's file
// system: nothing when it is broken or not a folder.
std::optional<PLFolderKind> linkTarget(int folder, const char* name)
{
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_XDEV;
    const FileDescriptor target(static_cast<int>(::syscall(SYS_openat2, folder, name, &how, sizeof how)));
    if (!target.valid()) {
        if (errno == EXDEV) return PLFolderKind::elsewhere;
        return std::nullopt;
    }
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
    const auto mounts = walk::mountsBelowFolder(folder.get(), {});
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
            if (const auto kind = linkTarget(folder.get(), name)) listing.entries.push_back({name, *kind});
        }
    }
    ::closedir(stream);
    return listing;
}

}  // namespace corvalent
