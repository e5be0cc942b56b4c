#include "core/disk/disk_trash.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "core/disk/disk_trash_refusals.h"
#include "core/disk/freedesktop_trash.h"
#include "core/common/paths.h"
#include "core/common/utf8.h"

namespace corvalent {
namespace {

std::string_view describe(DiskTrashError::Kind kind)
{
    switch (kind) {
    case DiskTrashError::Kind::unavailable: return "";
    case DiskTrashError::Kind::protectedPath: return "This location is protected by Corvalent.";
    case DiskTrashError::Kind::symbolicLink:
        return "Corvalent does not move symbolic links or items reached through them.";
    case DiskTrashError::Kind::wrongOwner: return "This item is not owned by the current user.";
    case DiskTrashError::Kind::unsupportedItem: return "Only regular files and folders can be moved to Trash.";
    case DiskTrashError::Kind::identityChanged:
        return "The item changed after it was reviewed. Scan it again before acting.";
    case DiskTrashError::Kind::destinationExists:
        return "The original location is no longer empty, so Corvalent cannot restore this item safely.";
    case DiskTrashError::Kind::duplicateSetChanged:
        return "The duplicate set changed after it was verified. Verify it again before acting.";
    case DiskTrashError::Kind::mountedInside: return "A disk is mounted inside this folder. Corvalent does not move it.";
    case DiskTrashError::Kind::invalidName: return "Corvalent can't move an item whose name isn't valid text.";
    }
    return "";
}

[[noreturn]] void refuse(DiskTrashError::Kind kind)
{
    throw DiskTrashError(kind);
}

DiskItemIdentity identityFrom(const std::string& path, const struct stat& info)
{
    return DiskItemIdentity{path,
                            static_cast<std::uint64_t>(info.st_dev),
                            static_cast<std::uint64_t>(info.st_ino),
                            info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0,
                            static_cast<std::int64_t>(info.st_mtim.tv_sec),
                            static_cast<std::int64_t>(info.st_mtim.tv_nsec),
                            static_cast<std::uint16_t>(info.st_mode),
                            static_cast<std::uint32_t>(info.st_uid)};
}

// The item at `path` (absolute), reached from "/" one component at a time,
// the item itself included, without following links: nothing reached
// through a link is ever moved. `visit` sees each component as it is
// reached; the item is held open (as a place only) and described.
struct Reached {
    FileDescriptor handle;
    struct stat info {};
};

Reached reach(const std::string& path, const std::function<void(const struct stat&)>& visit = {})
{
    Reached at{FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC))};
    if (!at.handle.valid() || ::fstat(at.handle.get(), &at.info) != 0)
        throw DiskTrashRefusals::unreachable(path, "/", errno);
    std::string running;
    std::size_t start = 1;
    while (start < path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            const auto name = path.substr(start, end - start);
            running.append("/").append(name);
            FileDescriptor next(::openat(at.handle.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid() || ::fstat(next.get(), &at.info) != 0)
                throw DiskTrashRefusals::unreachable(path, running, errno);
            if (S_ISLNK(at.info.st_mode)) refuse(DiskTrashError::Kind::symbolicLink);
            if (visit) visit(at.info);
            at.handle = std::move(next);
        }
        start = end + 1;
    }
    return at;
}

// An item as a capture examines it, with the bytes it occupies on disk.
struct Examined {
    DiskItemIdentity identity;
    std::uint64_t allocatedBytes = 0;  // st_blocks × 512, as a scan counts them
};

Examined examine(std::string_view path)
{
    const auto normalised = Paths::standardized(path);
    if (!normalised.starts_with('/') || normalised == "/") refuse(DiskTrashError::Kind::protectedPath);
    const auto info = reach(normalised).info;
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) refuse(DiskTrashError::Kind::unsupportedItem);
    constexpr auto maxBlocks = std::numeric_limits<std::uint64_t>::max() / 512;
    const auto blocks = info.st_blocks > 0 ? static_cast<std::uint64_t>(info.st_blocks) : 0;
    return {identityFrom(normalised, info),
            blocks > maxBlocks ? std::numeric_limits<std::uint64_t>::max() : blocks * 512};
}

// The item is still what was recorded of it, in what was recorded.
bool stillAsRecorded(const Examined& now, const DiskRecordedIdentity& record)
{
    const auto& is = now.identity;
    const auto& was = record.identity;
    const auto& fields = record.fields;
    return is.device == was.device && is.inode == was.inode && (is.mode & S_IFMT) == (was.mode & S_IFMT) &&
           (!fields.size || is.size == was.size) &&
           (!fields.modified ||
            (is.modifiedSeconds == was.modifiedSeconds && is.modifiedNanoseconds == was.modifiedNanoseconds)) &&
           (!fields.permissions || is.mode == was.mode) && (!fields.owner || is.owner == was.owner) &&
           (!record.allocatedBytes || now.allocatedBytes == *record.allocatedBytes);
}

// What the path's text does not tell: the home Trash reached through another
// spelling (a bind mount of the home), and a disk mounted at or inside a
// folder, which a rename would carry into the Trash, where emptying it
// deletes the disk's files. The item is reached one component at a time,
// links not followed; its mounts are found in the mount table, in the
// kernel's spelling of the folder, and never looked at.
void refuseWhatTheTextHides(const DiskItemIdentity& identity, const Paths::Home& home)
{
    const auto [at, info] = reach(identity.path, [&home](const struct stat& component) {
        if (home.isTrash(component.st_dev, component.st_ino)) refuse(DiskTrashError::Kind::protectedPath);
    });
    if (info.st_dev != identity.device || info.st_ino != identity.inode) refuse(DiskTrashError::Kind::identityChanged);
    if (!S_ISDIR(info.st_mode)) return;

    struct statx about {};
    const bool knowsMount = ::statx(at.get(), "", AT_EMPTY_PATH, STATX_MNT_ID, &about) == 0 &&
                            (about.stx_mask & STATX_MNT_ID) != 0;
    auto spelled = pathOfOpen(at.get());
    if (!spelled.starts_with('/')) spelled = identity.path;
    const FileDescriptor table(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    const auto text = table.valid() ? readMountInfo(table.get()) : std::nullopt;
    if (!text) throw DiskTrashRefusals::mountTableUnreadable(identity.path, errno);
    if (holdsMountPoint(parseMountInfo(*text), spelled, knowsMount ? about.stx_mnt_id : 0))
        refuse(DiskTrashError::Kind::mountedInside);
}

// Moving what a Trash holds would orphan its info file or swallow the Trash.
// The classification again, with what is on disk now; a Trash is never a
// candidate, nor is anything in one (the classification looks in every Trash).
bool protectedNow(const DiskItemIdentity& identity, const DiskCleanupCandidate& candidate, const Paths::Home& home)
{
    return DiskInsights::classify(identity.path, candidate.bytes, identity.isDirectory(), candidate.activeOwners, home)
               .safety == DiskCleanupSafety::protected_;
}

// The folder of the item at `path`, held open.
FreedesktopTrash::Folder itemFolder(const std::string& path)
{
    try {
        return FreedesktopTrash::Folder::open(Paths::folderAndName(path).first);
    } catch (const FreedesktopTrash::Error& error) {
        if (error.code() == ELOOP) refuse(DiskTrashError::Kind::symbolicLink);
        throw DiskTrashRefusals::folderUnreachable(path, error.code());
    }
}

// The folder an item goes back into, held open: reached with no link on the
// way, a folder of the user's own that the user may write to.
FreedesktopTrash::Folder originalFolder(const DiskTrashReceipt& receipt)
{
    const auto path = Paths::folderAndName(receipt.originalPath).first;
    if (path == "/" || !path.starts_with('/')) refuse(DiskTrashError::Kind::protectedPath);
    namespace Restore = DiskTrashRefusals::Restore;
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
    namespace Restore = DiskTrashRefusals::Restore;
    const auto [filesPath, trashName] = Paths::folderAndName(receipt.trashedPath);
    try {
        auto files = FreedesktopTrash::Folder::open(filesPath);
        const auto inTrash = files.stat(trashName);
        if (!inTrash) throw Restore::copyUnreachable(receipt.name, errno);
        if (identityFrom(receipt.trashedPath, *inTrash) != receipt.trashedIdentity)
            throw Restore::copyChanged(receipt.name);
        return {std::move(files), trashName};
    } catch (const FreedesktopTrash::Error& error) {
        throw Restore::copyUnreachable(receipt.name, error.code());
    }
}

// Each recorded item is still there, unchanged in what was recorded of it:
// the same object at the same path. The item about to move, examined just
// now, is not examined again.
void checkRecorded(const std::vector<DiskRecordedIdentity>& recorded, const Examined& item)
{
    for (const auto& record : recorded) {
        std::optional<Examined> now;
        if (record.identity.path == item.identity.path) {
            now = item;
        } else {
            try {
                now = examine(record.identity.path);
            } catch (const DiskTrashError&) {
            }
        }
        if (!now || !stillAsRecorded(*now, record)) refuse(record.refusal);
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

DiskTrashError::DiskTrashError(Kind kind) : DiskTrashError(kind, std::string(describe(kind))) {}

DiskTrashError::DiskTrashError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

DiskTrashError DiskTrashError::unavailable(std::string message)
{
    return DiskTrashError(Kind::unavailable, message);
}

DiskItemIdentity DiskItemIdentity::capture(std::string_view path)
{
    return examine(path).identity;
}

bool DiskItemIdentity::isDirectory() const
{
    return S_ISDIR(mode);
}

bool DiskItemIdentity::sameItemAs(const DiskItemIdentity& other) const
{
    auto moved = other;
    moved.path = path;
    return *this == moved;
}

DiskRecordedIdentity DiskRecordedIdentity::scanned(std::string path, const DiskScannedItem& item)
{
    DiskItemIdentity identity{std::move(path), item.device, item.inode};
    identity.size = item.logicalBytes.value_or(0);
    identity.mode = static_cast<std::uint16_t>(item.isDirectory ? S_IFDIR : S_IFREG);
    const Fields fields{.size = item.logicalBytes.has_value(), .modified = false, .permissions = false, .owner = false};
    return DiskRecordedIdentity{std::move(identity), DiskTrashError::Kind::identityChanged, fields,
                                item.allocatedBytes};
}

namespace DiskTrashExecutor {

DiskTrashRequest prepare(const DiskCleanupCandidate& candidate)
{
    if (candidate.safety == DiskCleanupSafety::protected_) refuse(DiskTrashError::Kind::protectedPath);
    // A path that is not text could only ever have been reviewed under a lossy spelling.
    if (!isValidUtf8(candidate.path)) throw DiskTrashRefusals::nameNotText(candidate.path);
    const auto examined = examine(candidate.path);
    const auto& identity = examined.identity;
    // What the user reviewed is what the scan measured, not whatever lies at
    // its path now; without a scan's record, it is at least of the same kind.
    std::vector<DiskRecordedIdentity> recorded;
    if (candidate.scanned) recorded.push_back(DiskRecordedIdentity::scanned(identity.path, *candidate.scanned));
    if (identity.isDirectory() != candidate.isDirectory ||
        (!recorded.empty() && !stillAsRecorded(examined, recorded.front())))
        refuse(DiskTrashError::Kind::identityChanged);
    if (identity.owner != ::getuid()) refuse(DiskTrashError::Kind::wrongOwner);
    const auto home = Paths::Home::current();
    auto fresh =
        DiskInsights::classify(identity.path, candidate.bytes, identity.isDirectory(), candidate.activeOwners, home);
    if (fresh.safety == DiskCleanupSafety::protected_) refuse(DiskTrashError::Kind::protectedPath);
    fresh.scanned = candidate.scanned;
    refuseWhatTheTextHides(identity, home);
    return DiskTrashRequest{std::move(fresh), identity, std::move(recorded)};
}

void validate(const DiskTrashRequest& request)
{
    const auto examined = examine(request.identity.path);
    const auto& now = examined.identity;
    if (now != request.identity) refuse(DiskTrashError::Kind::identityChanged);
    if (now.owner != ::getuid()) refuse(DiskTrashError::Kind::wrongOwner);
    const auto home = Paths::Home::current();
    if (protectedNow(now, request.candidate, home)) refuse(DiskTrashError::Kind::protectedPath);
    refuseWhatTheTextHides(now, home);
    checkRecorded(request.recorded, examined);
}

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
    if (identityFrom(original, *there) != request.identity) refuse(DiskTrashError::Kind::identityChanged);
    auto placement = [&] {
        try {
            return FreedesktopTrash::moveToTrash(parent, name, hooks.beforeRename);
        } catch (const FreedesktopTrash::Error& error) {
            const bool folderWritable = ::faccessat(parent.fd(), ".", W_OK, 0) == 0;
            throw DiskTrashRefusals::notMoved(original, error.code(), folderWritable);
        }
    }();
    if (hooks.afterRename) hooks.afterRename();

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
        receipt.trashedIdentity = identityFrom(placement.trashedPath, *arrived);
        // What arrived must be what was reviewed: an item swapped in between
        // the last check and the rename goes back, and nothing has moved.
        if (!receipt.trashedIdentity.sameItemAs(request.identity)) {
            if (FreedesktopTrash::putBack(placement, parent, name) == 0) refuse(DiskTrashError::Kind::identityChanged);
            // Its place was taken again: it stays in the Trash, and is said to be there.
            receipt.bytes = 0;
            receipt.changedAfterReview = true;
        }
    }
    receipt.movedAt = std::chrono::system_clock::now();
    return receipt;
}

void restore(const DiskTrashReceipt& receipt)
{
    restore(receipt, {});
}

// Every refusal says what keeps the item from going back, in words of its own.
void restore(const DiskTrashReceipt& receipt, const DiskTrashHooks& hooks)
{
    namespace Restore = DiskTrashRefusals::Restore;
    struct stat existing {};
    // lstat: a dangling link at the original place counts as occupied too.
    if (::lstat(receipt.originalPath.c_str(), &existing) == 0) throw Restore::placeTaken(receipt.name);
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
    FreedesktopTrash::removeInfo(receipt.infoPath);
}

}  // namespace DiskTrashExecutor
}  // namespace corvalent
