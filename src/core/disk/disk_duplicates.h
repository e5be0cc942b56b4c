#pragma once

// Proves which files of a possible-duplicate group hold the same content.
// A scan groups files only by size; verification reads every file in full,
// hashes it with SHA-256, and refuses the whole group when any file changed
// while it was read. It never changes anything on disk.

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/paths.h"
#include "core/disk/disk.h"
#include "core/disk/trash/disk_item_identity.h"

namespace corvalent {

// Files whose full contents have the same SHA-256.
struct DiskVerifiedDuplicateSet {
    std::string id;                               // the SHA-256, 64 lower-case hex digits
    std::vector<DiskFile> files;                  // by path (plain byte order)
    // Each file as verification recorded it, its change time included, in the order of `files`.
    std::vector<DiskRecordedIdentity> identities;
    std::uint64_t logicalBytesPerFile = 0;        // of the first file given to make(); 0 without files
    std::uint64_t estimatedRecoverableBytes = 0;  // allocated bytes of all copies but the smallest

    // Files and identities are paired by position. When their counts differ
    // they cannot be paired and the identities are left out: a set without
    // them cannot be acted on.
    static DiskVerifiedDuplicateSet make(const std::array<unsigned char, 32>& digest, std::vector<DiskFile> files,
                                         std::vector<DiskRecordedIdentity> identities);
    bool operator==(const DiskVerifiedDuplicateSet&) const = default;
};

// Why a verification gave no result; what() is the sentence for the user.
class DiskDuplicateVerificationError : public std::runtime_error {
public:
    enum class Kind { changed, cancelled };

    // `name` is the file's name, not its path.
    static DiskDuplicateVerificationError changed(std::string name);
    static DiskDuplicateVerificationError cancelled();

    Kind kind() const { return kind_; }

private:
    DiskDuplicateVerificationError(Kind kind, const std::string& message);
    Kind kind_;
};

namespace DiskDuplicateVerifier {

// Hashes every file of the group and returns the sets of two or more files
// with equal contents, most recoverable first. Throws
// DiskDuplicateVerificationError when a file changed or `stop` was requested,
// and DiskTrashError when a file is missing, a link, or cannot be read: there
// is never a partial result. When several files fail, the error is that of
// the first of them in the group's order, as if they were read one by one.
//
// Files are read in parallel, one thread per file at a time, on `threads`
// threads (never more than the group has files); 0 picks as many as there
// are processors this process may run on, at most 8. The outcome does not
// depend on the thread count. The threads are the verification's own: a stop
// returns at once, even while a thread waits on a slow or hung file system;
// such a thread ends on its own once its call returns.
std::vector<DiskVerifiedDuplicateSet> verify(const DiskDuplicateGroup& group, std::stop_token stop = {},
                                             unsigned threads = 0);

}  // namespace DiskDuplicateVerifier

// What a verified set offers for one of its copies.
enum class DiskDuplicateCopyRole {
    keep,        // the copy that stays
    review,      // may be reviewed for a move to the Trash
    protected_,  // the Trash may not take it
};

namespace DiskDuplicateCopies {

// The set, or the group, as it stands: without the files `gone` names (moved
// since it was found), its figures those of the copies left; its id kept.
DiskVerifiedDuplicateSet remaining(const DiskVerifiedDuplicateSet& set,
                                   const std::function<bool(const std::string&)>& gone);
DiskDuplicateGroup remaining(const DiskDuplicateGroup& group, const std::function<bool(const std::string&)>& gone);

// The role of each file of `set`, in its order. The first copy outside every
// Trash is kept: a copy in a Trash is lost once the Trash is emptied. A Trash
// is one by its layout on any home and volume, or one of `trashFolders`, the
// folders a scan found to be the home Trash by device and inode
// (DiskScanResult::trashFolders). A copy in a Trash is protected, as the
// Trash takes nothing it already holds; every other copy may be reviewed
// unless the Trash may not take it. Reads nothing on disk.
std::vector<DiskDuplicateCopyRole> roles(const DiskVerifiedDuplicateSet& set, const Paths::Home& home,
                                         const std::vector<std::string>& trashFolders = {});

// How many of `files` lie outside every Trash, as roles() tells them: a set
// or a group with fewer than two such copies is none.
std::size_t outsideTrash(const std::vector<DiskFile>& files, const Paths::Home& home,
                         const std::vector<std::string>& trashFolders = {});

// What the Trash could take of `files`: every copy outside every Trash but
// the smallest. A copy already in a Trash frees nothing more.
std::uint64_t recoverableOutsideTrash(const std::vector<DiskFile>& files, const Paths::Home& home,
                                      const std::vector<std::string>& trashFolders = {});

// `set` with its copies outside every Trash listed first, each part in its
// own order, so that the first copy listed is the one kept; its figure is
// recoverableOutsideTrash's.
DiskVerifiedDuplicateSet outsideTrashFirst(DiskVerifiedDuplicateSet set, const Paths::Home& home,
                                           const std::vector<std::string>& trashFolders = {});

}  // namespace DiskDuplicateCopies
}  // namespace corvalent
