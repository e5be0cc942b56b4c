#include "core/disk/trash/disk_trash_refusals.h"

#include <QString>

#include <sys/stat.h>
#include <cerrno>
#include <system_error>

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
    case DiskTrashError::Kind::notAnswering: return "Nothing was moved. Try again when its disk answers.";
    case DiskTrashError::Kind::landedElsewhere: return "";
    }
    return "";
}

}  // namespace

DiskTrashError::DiskTrashError(Kind kind) : DiskTrashError(kind, std::string(describe(kind))) {}

DiskTrashError::DiskTrashError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

DiskTrashError DiskTrashError::unavailable(std::string message)
{
    return DiskTrashError(Kind::unavailable, message);
}

namespace DiskTrashRefusals {
namespace {

using Kind = DiskTrashError::Kind;

std::string nameIn(std::string_view path)
{
    return Paths::folderAndName(path).second;
}

std::string folderOf(std::string_view path)
{
    return Paths::folderAndName(path).first;
}

DiskTrashError unavailable(const std::string& sentence)
{
    return DiskTrashError::unavailable(sentence);
}

bool deniedError(int error)
{
    return error == EACCES || error == EPERM;
}

bool fullError(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

}  // namespace

std::string quoted(std::string_view text)
{
    return "“" + QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString() + "”";
}

std::string withSystemText(const std::string& reason, int error)
{
    return reason + " (" + std::generic_category().message(error) + ")";
}

namespace {

std::string naming(std::string_view refusal, std::string_view name, std::string_view outcome)
{
    const auto item = quoted(name);
    if (refusal.find(item) != std::string_view::npos) return std::string(refusal);
    return item + " " + std::string(outcome) + ". " + std::string(refusal);
}

}  // namespace

std::string moveRefused(std::string_view refusal, std::string_view name)
{
    return naming(refusal, name, "can't be moved to Trash");
}

std::string restoreRefused(std::string_view refusal, std::string_view name)
{
    return naming(refusal, name, "can't go back");
}

DiskTrashError unreachable(const std::string& path, const std::string& running, int error)
{
    if (error == ELOOP) return DiskTrashError(Kind::symbolicLink);
    const auto item = quoted(nameIn(path));
    if (error == ENOENT && running == path)
        return unavailable(item + " is no longer in " + quoted(folderOf(path)) + ".");
    if (error == ENOENT) return unavailable(item + " can't be found: the folder " + quoted(running) + " is gone.");
    // What lies before `running` was looked at already: it is what turned out no folder, or closed.
    if (error == ENOTDIR)
        return unavailable(item + " can't be found: " + quoted(folderOf(running)) + " is no longer a folder.");
    if (deniedError(error))
        return unavailable(
            withSystemText("Corvalent may not look into " + quoted(folderOf(running)) + ", so it can't check " + item,
                           error) +
            ".");
    return unavailable(withSystemText("Corvalent can't check " + item, error) + ".");
}

DiskTrashError folderUnreachable(const std::string& path, int error)
{
    const auto folder = folderOf(path);
    if (error == ENOENT) return unreachable(path, folder, error);
    const auto item = quoted(nameIn(path));
    if (error == ENOTDIR) return unavailable(item + " can't be found: " + quoted(folder) + " is no longer a folder.");
    if (deniedError(error))
        return unavailable(
            withSystemText("Corvalent may not reach " + quoted(folder) + ", so it can't move " + item, error) + ".");
    return unavailable(withSystemText("Corvalent can't reach " + quoted(folder) + " to move " + item, error) + ".");
}

DiskTrashError notMoved(const std::string& path, int error, bool folderWritable)
{
    if (error == ENOENT) return unreachable(path, path, error);
    const auto item = quoted(nameIn(path));
    const auto cannot = item + " can't be moved to Trash: ";
    std::string reason;
    if (deniedError(error))
        reason = folderWritable ? "you may not write to the Trash on its disk"
                                : "you may not change its folder " + quoted(folderOf(path));
    else if (error == EROFS)
        reason = "its disk is read-only";
    else if (fullError(error))
        reason = "its disk has no room left";
    else if (error == EBUSY)
        reason = "it is a mount point or in use by the system";
    else if (error == ENOTDIR || error == ELOOP)
        reason = "the Trash on its disk can't be used";
    else
        return unavailable(withSystemText("Corvalent can't move " + item + " to Trash", error) + ".");
    return unavailable(withSystemText(cannot + reason, error) + ".");
}

DiskTrashError mountTableUnreadable(const std::string& path, int error)
{
    return unavailable(withSystemText("Corvalent can't tell whether a disk is mounted inside " + quoted(nameIn(path)) +
                                          ", so it does not move it",
                                      error) +
                       ".");
}

DiskTrashError nameNotText(const std::string& path)
{
    const auto name = nameIn(path);
    const auto item = quoted(name);
    if (!isValidUtf8(name))
        return DiskTrashError(Kind::invalidName,
                              "Corvalent can't move " + item + " because its name isn't valid text.");
    return DiskTrashError(Kind::invalidName, "Corvalent can't move " + item + " because the path of its folder " +
                                                 quoted(folderOf(path)) + " isn't valid text.");
}

DiskTrashError notAnswering(const std::string& path)
{
    return DiskTrashError(Kind::notAnswering, quoted(nameIn(path)) + " in " + quoted(folderOf(path)) +
                                                  " does not answer. " + DiskTrashError(Kind::notAnswering).what());
}

DiskTrashError trashMoved(const std::string& path, const std::string& trashFolder)
{
    return unavailable(quoted(nameIn(path)) + " can't be moved to Trash: the Trash folder " + quoted(trashFolder) +
                       " was moved while it went in.");
}

DiskTrashError trashedElsewhere(const std::string& path, const std::string& trashFolder, const std::string& folderNow)
{
    const auto went = quoted(nameIn(path)) + " went into the Trash folder " + quoted(trashFolder) +
                      ", but that folder was moved while it went in and it could not go back";
    return DiskTrashError(Kind::landedElsewhere, folderNow.starts_with('/')
                                                     ? went + ": it is now in " + quoted(folderNow) + "."
                                                     : went + ", and Corvalent can't tell where that folder is now.");
}

namespace Restore {
namespace {

// "“name” can't go back: <reason>. It is still in the Trash."
DiskTrashError refused(Kind kind, std::string_view name, const std::string& reason)
{
    return DiskTrashError(kind, quoted(name) + " can't go back: " + reason + ". " + stillInTrash());
}

}  // namespace

std::string stillInTrash()
{
    return "It is still in the Trash.";
}

DiskTrashError placeTaken(std::string_view name)
{
    const DiskTrashError taken(Kind::destinationExists);
    return DiskTrashError(Kind::destinationExists,
                          quoted(name) + " can't go back. " + taken.what() + " " + stillInTrash());
}

// The one refusal after which the item is not in the Trash any more.
DiskTrashError copyGone(std::string_view name)
{
    return DiskTrashError(Kind::unavailable,
                          quoted(name) + " can't go back: its copy in the Trash was moved or removed.");
}

DiskTrashError copyChanged(std::string_view name)
{
    return refused(Kind::identityChanged, name, "its copy in the Trash was changed or replaced");
}

DiskTrashError copyUnreachable(std::string_view name, int error)
{
    if (error == ENOENT || error == ENOTDIR) return copyGone(name);
    if (error == ELOOP) return refused(Kind::symbolicLink, name, "its copy in the Trash is now behind a symbolic link");
    return refused(Kind::unavailable, name, withSystemText("Corvalent can't reach its copy in the Trash", error));
}

DiskTrashError folderUnreachable(std::string_view name, const std::string& folder, int error)
{
    const auto place = quoted(folder);
    if (error == ENOENT) return refused(Kind::unavailable, name, "its folder " + place + " is gone");
    if (error == ENOTDIR) return refused(Kind::unavailable, name, place + " is no longer a folder");
    if (error == ELOOP) {
        // The folder itself, or one on the way to it.
        struct stat info {};
        const bool itself = ::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
        return refused(Kind::symbolicLink, name,
                       "its folder " + place + (itself ? " is now a symbolic link" : " is now behind a symbolic link"));
    }
    if (deniedError(error))
        return refused(Kind::unavailable, name, withSystemText("you may not reach its folder " + place, error));
    return refused(Kind::unavailable, name, withSystemText("Corvalent can't reach its folder " + place, error));
}

DiskTrashError folderNotOwned(std::string_view name, const std::string& folder)
{
    return refused(Kind::unavailable, name, "its folder " + quoted(folder) + " belongs to another user");
}

DiskTrashError folderReadOnly(std::string_view name, const std::string& folder)
{
    return refused(Kind::unavailable, name, "its folder " + quoted(folder) + " is read-only");
}

DiskTrashError folderReplaced(std::string_view name, const std::string& folder)
{
    return refused(Kind::unavailable, name, "its folder " + quoted(folder) + " was moved or replaced");
}

DiskTrashError notPutBack(std::string_view name, const std::string& folder, int error)
{
    const auto place = quoted(folder);
    if (error == ENOENT || error == ENOTDIR) return folderUnreachable(name, folder, error);
    if (deniedError(error))
        return refused(Kind::unavailable, name, withSystemText("you may not change its folder " + place, error));
    if (error == EROFS)
        return refused(Kind::unavailable, name, withSystemText("its folder " + place + " is read-only", error));
    if (fullError(error))
        return refused(Kind::unavailable, name,
                       withSystemText("the disk of its folder " + place + " has no room left", error));
    if (error == EXDEV)
        return refused(Kind::unavailable, name,
                       withSystemText("its folder " + place + " is now on another file system", error));
    return refused(Kind::unavailable, name, withSystemText("Corvalent can't put it back into " + place, error));
}

DiskTrashError landedElsewhere(std::string_view name, const std::string& folder, const std::string& folderNow)
{
    const auto left =
        quoted(name) + " left the Trash, but its folder " + quoted(folder) + " was moved while it went back";
    if (!folderNow.starts_with('/'))
        return DiskTrashError(Kind::landedElsewhere, left + ", and Corvalent can't tell where that folder is now.");
    return DiskTrashError(Kind::landedElsewhere, left + ": it is now in " + quoted(folderNow) + ".");
}

}  // namespace Restore
}  // namespace DiskTrashRefusals
}  // namespace corvalent
