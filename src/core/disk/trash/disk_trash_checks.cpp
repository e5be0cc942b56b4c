// The checks before a move: when the user opens the confirmation
// (prepare), and immediately before the item moves (validate).

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "core/common/paths.h"
#include "core/common/utf8.h"
#include "core/disk/trash/disk_items_apart.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/trash/link_free_walk.h"

namespace corvalent {
namespace {

[[noreturn]] void refuse(DiskTrashError::Kind kind)
{
    throw DiskTrashError(kind);
}

// What the path's text does not tell: the home Trash reached through another
// spelling (a bind mount of the home), and a disk mounted at or inside a
// folder, which a rename would carry into the Trash, where emptying it
// deletes the disk's files. The item is reached one component at a time,
// links not followed; its mounts are found in the mount table, in the
// kernel's spelling of the folder, and never looked at.
void refuseWhatTheTextHides(const DiskItemIdentity& identity, const Paths::Home& home)
{
    const auto [at, info] = [&] {
        try {
            return LinkFreeWalk::reach(identity.path, [&home](const struct stat& component) {
                if (home.isTrash(component.st_dev, component.st_ino)) refuse(DiskTrashError::Kind::protectedPath);
            });
        } catch (const LinkFreeWalk::Error& error) {
            throw DiskTrashRefusals::unreachable(identity.path, error.reached(), error.code());
        }
    }();
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

// Each recorded item is still there, unchanged in what was recorded of it:
// the same object at the same path. The item about to move, examined just
// now, is not examined again; the others may lie on any disk, and are
// looked at by a helper within a bound. One it did not answer for in time
// was not seen: not changed, yet not confirmed either.
void checkRecorded(const std::vector<DiskRecordedIdentity>& recorded, const DiskItemExamined& item)
{
    std::vector<std::string> others;
    for (const auto& record : recorded)
        if (record.identity.path != item.path) others.push_back(record.identity.path);
    const auto found = others.empty() ? std::vector<DiskItemsApart::Found>{} : DiskItemsApart::examine(others);
    std::size_t answer = 0;
    for (const auto& record : recorded) {
        std::optional<DiskItemExamined> now;
        if (record.identity.path == item.path) {
            now = item;
        } else if (answer >= found.size()) {
            throw DiskTrashRefusals::notAnswering(record.identity.path);
        } else if (const auto& info = found[answer++]) {
            now = DiskItemExamined{record.identity.path, *info};
        }
        if (!now || !now->matches(record)) refuse(record.refusal);
    }
}

}  // namespace

namespace DiskTrashExecutor {

DiskTrashRequest prepare(const DiskCleanupCandidate& candidate)
{
    if (candidate.safety == DiskCleanupSafety::protected_) refuse(DiskTrashError::Kind::protectedPath);
    // A path that is not text could only ever have been reviewed under a lossy spelling.
    if (!isValidUtf8(candidate.path)) throw DiskTrashRefusals::nameNotText(candidate.path);
    const auto examined = DiskItemExamined::at(candidate.path);
    const auto identity = examined.identity();
    // What the user reviewed is what the scan measured, not whatever lies at
    // its path now; without a scan's record, it is at least of the same kind.
    std::vector<DiskRecordedIdentity> recorded;
    if (candidate.scanned) recorded.push_back(DiskRecordedIdentity::scanned(identity.path, *candidate.scanned));
    if (identity.isDirectory() != candidate.isDirectory || (!recorded.empty() && !examined.matches(recorded.front())))
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
    const auto examined = DiskItemExamined::at(request.identity.path);
    const auto now = examined.identity();
    if (now != request.identity) refuse(DiskTrashError::Kind::identityChanged);
    if (now.owner != ::getuid()) refuse(DiskTrashError::Kind::wrongOwner);
    const auto home = Paths::Home::current();
    if (protectedNow(now, request.candidate, home)) refuse(DiskTrashError::Kind::protectedPath);
    refuseWhatTheTextHides(now, home);
    checkRecorded(request.recorded, examined);
}

int printExamined(int count, char** paths)
{
    return DiskItemsApart::print(count, paths, [](const std::string& path) { return DiskItemExamined::at(path).info; });
}

}  // namespace DiskTrashExecutor
}  // namespace corvalent
