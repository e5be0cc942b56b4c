// The move to the Trash: the item is renamed out of the folder it was
// checked in, held open, into the Trash, and what arrived is checked again.

#include <array>
#include <cerrno>
#include <random>
#include <unistd.h>

#include "bridge/mount_table.h"
#include "core/common/paths.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/trash/freedesktop_trash.h"

namespace corvalent {
namespace {

// The folder of the item at `path`, held open.
FreedesktopTrash::Folder itemFolder(const std::string& path)
{
    try {
        return FreedesktopTrash::Folder::open(Paths::folderAndName(path).first);
    } catch (const FreedesktopTrash::Error& error) {
        if (error.code() == ELOOP) throw DiskTrashError(DiskTrashError::Kind::symbolicLink);
        throw DiskTrashRefusals::folderUnreachable(path, error.code());
    }
}

// `path` leads to the folder `held`, with no link on the way.
bool leadsTo(const std::string& path, const FreedesktopTrash::Folder& held)
{
    try {
        return FreedesktopTrash::Folder::open(path).sameFolderAs(held);
    } catch (const FreedesktopTrash::Error&) {
        return false;
    }
}

std::string newUUID()
{
    std::random_device random;
    std::array<unsigned char, 16> bytes{};
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(hex[bytes[i] >> 4]);
        text.push_back(hex[bytes[i] & 0xF]);
    }
    return text;
}

}  // namespace

namespace DiskTrashExecutor {

DiskTrashReceipt moveToTrash(const DiskTrashRequest& request)
{
    return moveToTrash(request, {});
}

DiskTrashReceipt moveToTrash(const DiskTrashRequest& request, const DiskTrashHooks& hooks)
{
    validate(request);
    const auto& original = request.identity.path;
    const auto name = Paths::folderAndName(original).second;
    // The folder is held from here on: the item is renamed out of the folder
    // it was checked in, even when another one takes that folder's place.
    const auto parent = itemFolder(original);
    const auto there = parent.stat(name);
    if (!there) throw DiskTrashRefusals::unreachable(original, original, errno);
    if (DiskItemExamined{original, *there}.identity() != request.identity)
        throw DiskTrashError(DiskTrashError::Kind::identityChanged);
    auto placement = [&] {
        try {
            return FreedesktopTrash::moveToTrash(parent, name, hooks.beforeRename);
        } catch (const FreedesktopTrash::Error& error) {
            const bool folderWritable = ::faccessat(parent.fd(), ".", W_OK, 0) == 0;
            throw DiskTrashRefusals::notMoved(original, error.code(), folderWritable);
        }
    }();
    if (hooks.afterRename) hooks.afterRename();
    // The Trash folder moved away while the item went in: no Trash its path
    // names holds the item. It goes back; should its place be taken, the
    // refusal says where it is.
    const auto filesPath = Paths::folderAndName(placement.trashedPath).first;
    if (!leadsTo(filesPath, placement.files)) {
        if (FreedesktopTrash::putBack(placement, parent, name) == 0)
            throw DiskTrashRefusals::trashMoved(original, filesPath);
        throw DiskTrashRefusals::trashedElsewhere(original, filesPath, pathOfOpen(placement.files.fd()));
    }

    DiskTrashReceipt receipt{newUUID(),
                             original,
                             placement.trashedPath,
                             std::string(request.candidate.name()),
                             request.candidate.bytes,
                             {},
                             request.identity,
                             placement.infoPath};
    receipt.trashedIdentity.path = placement.trashedPath;
    // The move happened; when the item is no longer there to look at, a
    // receipt from what is known keeps it undoable.
    if (const auto arrived = placement.files.stat(placement.name)) {
        receipt.trashedIdentity = DiskItemExamined{placement.trashedPath, *arrived}.identity();
        // What arrived must be what was reviewed: an item swapped in between
        // the last check and the rename goes back, and nothing has moved.
        if (!receipt.trashedIdentity.sameItemAs(request.identity)) {
            if (FreedesktopTrash::putBack(placement, parent, name) == 0)
                throw DiskTrashError(DiskTrashError::Kind::identityChanged);
            // Its place was taken again: it stays in the Trash, and is said to be there.
            receipt.bytes = 0;
            receipt.changedAfterReview = true;
        }
    }
    receipt.movedAt = std::chrono::system_clock::now();
    return receipt;
}

}  // namespace DiskTrashExecutor
}  // namespace corvalent
