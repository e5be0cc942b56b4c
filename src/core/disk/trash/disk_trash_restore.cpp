// Putting an item back from the Trash: into the folder it came from, held
// open, never replacing anything, the copy in the Trash checked first.

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/mount_table.h"
#include "core/common/paths.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/trash/freedesktop_trash.h"

namespace corvalent {
namespace {

namespace Restore = DiskTrashRefusals::Restore;

// The folder an item goes back into, held open: reached with no link on the
// way, a folder of the user's own that the user may write to.
FreedesktopTrash::Folder originalFolder(const DiskTrashReceipt& receipt)
{
    const auto path = Paths::folderAndName(receipt.originalPath).first;
    if (path == "/" || !path.starts_with('/')) throw DiskTrashError(DiskTrashError::Kind::protectedPath);
    try {
        auto folder = FreedesktopTrash::Folder::open(path);
        const auto info = folder.stat();
        if (!info) throw Restore::folderUnreachable(receipt.name, path, errno);
        if (info->st_uid != ::getuid()) throw Restore::folderNotOwned(receipt.name, path);
        if (::faccessat(folder.fd(), ".", W_OK, 0) != 0) throw Restore::folderReadOnly(receipt.name, path);
        return folder;
    } catch (const FreedesktopTrash::Error& error) {
        throw Restore::folderUnreachable(receipt.name, path, error.code());
    }
}

// The Trash folder that holds the item, held open, and the item in it as it was moved.
std::pair<FreedesktopTrash::Folder, std::string> trashCopy(const DiskTrashReceipt& receipt)
{
    const auto [filesPath, trashName] = Paths::folderAndName(receipt.trashedPath);
    try {
        auto files = FreedesktopTrash::Folder::open(filesPath);
        const auto inTrash = files.stat(trashName);
        if (!inTrash) throw Restore::copyUnreachable(receipt.name, errno);
        if (DiskItemExamined{receipt.trashedPath, *inTrash}.identity() != receipt.trashedIdentity)
            throw Restore::copyChanged(receipt.name);
        return {std::move(files), trashName};
    } catch (const FreedesktopTrash::Error& error) {
        throw Restore::copyUnreachable(receipt.name, error.code());
    }
}

}  // namespace

namespace DiskTrashExecutor {

void restore(const DiskTrashReceipt& receipt)
{
    restore(receipt, {});
}

// Every refusal says what keeps the item from going back, in words of its own.
void restore(const DiskTrashReceipt& receipt, const DiskTrashHooks& hooks)
{
    struct stat existing {};
    // lstat: a dangling link at the original place counts as occupied too.
    if (::lstat(receipt.originalPath.c_str(), &existing) == 0)
        throw Restore::placeTaken(receipt.name);
    const auto [files, trashName] = trashCopy(receipt);
    const auto [folderPath, name] = Paths::folderAndName(receipt.originalPath);
    const auto folder = originalFolder(receipt);

    if (hooks.beforeRename) hooks.beforeRename();
    const int moved = FreedesktopTrash::moveNoReplace(files, trashName, folder, name);
    if (moved == EEXIST || moved == ENOTEMPTY) throw Restore::placeTaken(receipt.name);
    if (moved == ENOENT && !files.stat(trashName)) throw Restore::copyGone(receipt.name);
    if (moved != 0) throw Restore::notPutBack(receipt.name, folderPath, moved);
    if (hooks.afterRename) hooks.afterRename();

    // The item is in the folder that was checked. When the original path no
    // longer leads there (the folder moved away, a link in its place), it
    // goes back to the Trash and the restore is refused; should even that
    // fail, it stays in its own folder, wherever that is now.
    std::optional<DiskTrashError> elsewhere;
    try {
        if (!FreedesktopTrash::Folder::open(folderPath).sameFolderAs(folder))
            elsewhere = Restore::folderReplaced(receipt.name, folderPath);
    } catch (const FreedesktopTrash::Error& error) {
        elsewhere = Restore::folderUnreachable(receipt.name, folderPath, error.code());
    }
    if (elsewhere && FreedesktopTrash::moveNoReplace(folder, name, files, trashName) == 0) throw *elsewhere;
    // The Trash no longer holds it: its info file goes either way.
    FreedesktopTrash::removeInfo(receipt.infoPath);
    if (elsewhere) throw Restore::landedElsewhere(receipt.name, folderPath, pathOfOpen(folder.fd()));
}

}  // namespace DiskTrashExecutor
}  // namespace corvalent
