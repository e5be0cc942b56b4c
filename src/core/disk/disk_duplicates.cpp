#include "core/disk/disk_duplicates.h"

#include "bridge/file_descriptor.h"
#include "bridge/process_bridge.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <iterator>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/common/paths.h"
#include "core/common/saturating.h"
#include "core/disk/disk_insights.h"
#include "core/disk/trash/disk_trash_refusals.h"

namespace corvalent {
namespace {

using Digest = std::array<unsigned char, 32>;

// Small enough that what was read is still in the processor's cache when it
// is hashed; a larger read pushes its own start out before hashing reaches it.
constexpr std::size_t readChunk = 65'536;
// More readers than this gain nothing on one disk.
constexpr unsigned mostThreads = 8;

std::string hex(const Digest& digest)
{
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

std::string errnoText(int error)
{
    return std::generic_category().message(error);
}

// A file the system would not let verification read, named, the system's text after it.
DiskTrashError unreadable(const std::string& name, int error)
{
    return DiskTrashError::unavailable(
        DiskTrashRefusals::withSystemText("Corvalent can't read " + DiskTrashRefusals::quoted(name), error) + ".");
}

// The same file system object, of the same kind and size, as captured.
bool sameItem(const struct stat& info, const DiskItemIdentity& identity)
{
    return static_cast<std::uint64_t>(info.st_dev) == identity.device &&
           static_cast<std::uint64_t>(info.st_ino) == identity.inode &&
           (info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0) == identity.size &&
           (info.st_mode & S_IFMT) == (identity.mode & S_IFMT);
}

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// OpenSSL failures here mean an allocation failed or the library is broken;
// the user can do nothing but try again.
[[noreturn]] void hashingFailed()
{
    throw DiskTrashError::unavailable("SHA-256 is not available.");
}

struct Member {
    DiskFile file;
    DiskRecordedIdentity identity;
    Digest digest{};
};

// What one thread needs to hash files: a digest state and a read buffer of
// its own, made for its first file and reused for the next.
struct Hasher {
    DigestContext context;
    std::unique_ptr<unsigned char[]> buffer;  // always written before it is read

    void prepare()
    {
        // A reader left behind by a stop may still be hashing while the
        // process ends: OpenSSL must not tear itself down under it at exit.
        // Only the first initialisation decides, and this is the program's
        // only use of OpenSSL.
        if (OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) != 1) hashingFailed();
        if (!context) context.reset(EVP_MD_CTX_new());
        if (!context) hashingFailed();
        if (!buffer) buffer = std::make_unique_for_overwrite<unsigned char[]>(readChunk);
    }
};

// Opens the item `before` describes, or refuses it as changed when the path
// now holds something else. Never waits: a named pipe or a device put in
// the member's place would hold a blocking open until someone else acts.
int openMember(const DiskItemIdentity& before, const std::string& name)
{
    const int fd = ::open(before.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        // Whatever took the path (a link, a socket, nothing at all), it is
        // not this file; only the file's own refusal is passed on.
        struct stat now {};
        // Nothing at the path when it was opened is not the file either, even
        // when it is back by now.
        if (error == ENOENT || error == ENOTDIR || ::lstat(before.path.c_str(), &now) != 0 || !sameItem(now, before))
            throw DiskDuplicateVerificationError::changed(name);
        throw unreadable(name, error);
    }
    FileDescriptor opened(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw unreadable(name, errno);
    if (!sameItem(info, before)) throw DiskDuplicateVerificationError::changed(name);
    // The capture let only files and folders through, so this is one of
    // them; a file's reads follow the usual rules again.
    if (S_ISREG(info.st_mode)) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) throw unreadable(name, errno);
    }
    return opened.release();
}

// One file's full contents hashed, with its identity unchanged from before
// the first read to after the last one. `halted()` is asked before the file
// and before every read.
Member hashFile(const DiskFile& file, std::uint64_t expectedSize, Hasher& hasher, const auto& halted)
{
    if (halted()) throw DiskDuplicateVerificationError::cancelled();
    const auto name = std::string(file.name());
    // Its change time too: an edit in place whose modification time was put
    // back is a change all the same.
    const auto before = DiskRecordedIdentity::capture(file.path);
    const auto& was = before.identity;
    // A different size, or another file at the path the scan recorded, means
    // this is no longer the file the scan grouped.
    const bool replaced = file.device != 0 && file.inode != 0 && (was.device != file.device || was.inode != file.inode);
    if (was.size != expectedSize || replaced) throw DiskDuplicateVerificationError::changed(name);

    FileDescriptor fd(openMember(was, name));
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    hasher.prepare();
    EVP_MD_CTX* context = hasher.context.get();
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) hashingFailed();
    for (;;) {
        if (halted()) throw DiskDuplicateVerificationError::cancelled();
        ssize_t count = 0;
        do {
            count = ::read(fd.get(), hasher.buffer.get(), readChunk);
        } while (count < 0 && errno == EINTR);
        if (count < 0) throw unreadable(name, errno);
        if (count == 0) break;
        if (EVP_DigestUpdate(context, hasher.buffer.get(), static_cast<std::size_t>(count)) != 1) hashingFailed();
    }
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1 || length != digest.size()) hashingFailed();
    // Closed before the second look, so that a change seen while the file is
    // still open always falls between the two looks.
    fd.reset();

    auto after = DiskRecordedIdentity::capture(file.path);
    if (after != before) throw DiskDuplicateVerificationError::changed(name);
    return Member{file, std::move(after), digest};
}

// One verification's state, shared by the caller and its readers. A reader
// may sit in a read or an open on a hung mount for as long as the mount
// wants; the caller never waits for it after a stop, so whatever the reader
// uses lives here and goes with the last reader that lets go of it.
struct Verification {
    Verification(DiskDuplicateGroup files, std::stop_token token)
        : group(std::move(files)),
          stop(std::move(token)),
          members(group.files.size()),
          errors(group.files.size()),
          settled(group.files.size(), false),
          failedAt(group.files.size())
    {
    }

    const DiskDuplicateGroup group;
    const std::stop_token stop;
    std::atomic<std::size_t> next{0};

    std::mutex mutex;
    std::condition_variable_any changed;
    // Each file has its own slot, so which reader finishes first never shows.
    std::vector<std::optional<Member>> members;
    std::vector<std::exception_ptr> errors;
    std::vector<bool> settled;
    std::size_t settledBefore = 0;  // every file before this one is settled
    // The earliest file in the group's order that failed so far. Only the
    // first failure is reported, so files after it are dropped at once;
    // files before it must still be read to know whether they fail.
    std::atomic<std::size_t> failedAt;

    // The outcome is known: every file is settled, or every file up to the
    // first failure.
    bool decided() const
    {
        return settledBefore == members.size() || settledBefore > failedAt.load();
    }

    // Readers take the next file not yet taken until none is left.
    void read()
    {
        Hasher hasher;
        const std::size_t count = group.files.size();
        for (std::size_t index = next++; index < count; index = next++) {
            const auto halted = [&] {
                return stop.stop_requested() || failedAt.load(std::memory_order_relaxed) < index;
            };
            std::optional<Member> member;
            std::exception_ptr error;
            try {
                member = hashFile(group.files[index], group.logicalBytesPerFile, hasher, halted);
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(mutex);
            if (error) {
                errors[index] = std::move(error);
                if (index < failedAt.load()) failedAt = index;
            } else {
                members[index] = std::move(member);
            }
            settled[index] = true;
            while (settledBefore < count && settled[settledBefore]) ++settledBefore;
            changed.notify_all();
        }
    }
};

// Every file hashed, in the group's order, or the error of the first file in
// that order that failed. The files are read on `threads` threads of the
// verification's own; the caller only waits, and leaves on a stop at once,
// whatever a reader is blocked in.
std::vector<Member> hashMembers(const DiskDuplicateGroup& group, const std::stop_token& stop, unsigned threads)
{
    const auto shared = std::make_shared<Verification>(group, stop);
    unsigned started = 0;
    for (; started < threads; ++started) {
        try {
            std::thread([shared] { shared->read(); }).detach();
        } catch (const std::system_error& error) {
            // Fewer readers do the same work; none at all cannot do it.
            if (started == 0) throw DiskTrashError::unavailable(errnoText(error.code().value()));
            break;
        }
    }

    std::unique_lock lock(shared->mutex);
    if (!shared->changed.wait(lock, stop, [&] { return shared->decided(); }))
        throw DiskDuplicateVerificationError::cancelled();
    for (const auto& error : shared->errors)
        if (error) std::rethrow_exception(error);
    std::vector<Member> hashed;
    hashed.reserve(shared->members.size());
    for (auto& member : shared->members) hashed.push_back(std::move(*member));
    return hashed;
}

}  // namespace

DiskVerifiedDuplicateSet DiskVerifiedDuplicateSet::make(const Digest& digest, std::vector<DiskFile> files,
                                                        std::vector<DiskRecordedIdentity> identities)
{
    DiskVerifiedDuplicateSet set;
    set.id = hex(digest);
    if (files.empty()) return set;
    set.logicalBytesPerFile = files.front().logicalBytes;

    set.estimatedRecoverableBytes = recoverableBytes(files);

    std::vector<std::size_t> order(files.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&files](std::size_t a, std::size_t b) { return files[a].path < files[b].path; });
    const bool paired = identities.size() == files.size();
    set.files.reserve(files.size());
    if (paired) set.identities.reserve(files.size());
    for (const auto index : order) {
        set.files.push_back(std::move(files[index]));
        if (paired) set.identities.push_back(std::move(identities[index]));
    }
    return set;
}

DiskDuplicateVerificationError::DiskDuplicateVerificationError(Kind kind, const std::string& message)
    : std::runtime_error(message), kind_(kind)
{
}

DiskDuplicateVerificationError DiskDuplicateVerificationError::changed(std::string name)
{
    return DiskDuplicateVerificationError(Kind::changed,
                                          name + " changed while Corvalent was verifying it. Scan again.");
}

DiskDuplicateVerificationError DiskDuplicateVerificationError::cancelled()
{
    return DiskDuplicateVerificationError(Kind::cancelled, "Duplicate verification stopped.");
}

namespace DiskDuplicateVerifier {

std::vector<DiskVerifiedDuplicateSet> verify(const DiskDuplicateGroup& group, std::stop_token stop, unsigned threads)
{
    const unsigned wanted = threads != 0 ? threads : std::min(static_cast<unsigned>(pl_available_processors()), mostThreads);
    const auto used = static_cast<unsigned>(std::clamp<std::size_t>(group.files.size(), 1, wanted));
    auto members = hashMembers(group, stop, used);
    // A stop that came after the last read still ends without a result: with
    // files read side by side, "after the last read" is not a stable moment.
    if (stop.stop_requested()) throw DiskDuplicateVerificationError::cancelled();

    std::map<Digest, std::pair<std::vector<DiskFile>, std::vector<DiskRecordedIdentity>>> byDigest;
    for (auto& member : members) {
        auto& entry = byDigest[member.digest];
        entry.first.push_back(std::move(member.file));
        entry.second.push_back(std::move(member.identity));
    }

    std::vector<DiskVerifiedDuplicateSet> sets;
    for (auto& [digest, members] : byDigest) {
        if (members.first.size() < 2) continue;
        sets.push_back(DiskVerifiedDuplicateSet::make(digest, std::move(members.first), std::move(members.second)));
    }
    // Ties stay in digest order, so the same files always give the same list.
    std::stable_sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) {
        return a.estimatedRecoverableBytes > b.estimatedRecoverableBytes;
    });
    return sets;
}

}  // namespace DiskDuplicateVerifier

namespace DiskDuplicateCopies {

DiskVerifiedDuplicateSet remaining(const DiskVerifiedDuplicateSet& set,
                                   const std::function<bool(const std::string&)>& gone)
{
    DiskVerifiedDuplicateSet left = set;
    const bool paired = set.identities.size() == set.files.size();
    left.files.clear();
    left.identities.clear();
    for (std::size_t i = 0; i < set.files.size(); ++i) {
        if (gone(set.files[i].path)) continue;
        left.files.push_back(set.files[i]);
        if (paired) left.identities.push_back(set.identities[i]);
    }
    left.estimatedRecoverableBytes = recoverableBytes(left.files);
    return left;
}

DiskDuplicateGroup remaining(const DiskDuplicateGroup& group, const std::function<bool(const std::string&)>& gone)
{
    DiskDuplicateGroup left = group;
    std::erase_if(left.files, [&](const DiskFile& file) { return gone(file.path); });
    left.estimatedRecoverableBytes = recoverableBytes(left.files);
    return left;
}

std::vector<DiskDuplicateCopyRole> roles(const DiskVerifiedDuplicateSet& set, const Paths::Home& home,
                                         const std::vector<std::string>& trashFolders)
{
    std::vector<DiskDuplicateCopyRole> roles;
    roles.reserve(set.files.size());
    bool kept = false;
    for (const auto& file : set.files) {
        if (Paths::isInTrash(Paths::standardized(file.path), home, trashFolders)) {
            roles.push_back(DiskDuplicateCopyRole::protected_);
        } else if (!kept) {
            kept = true;
            roles.push_back(DiskDuplicateCopyRole::keep);
        } else {
            const bool movable =
                DiskInsights::classify(file.path, file.bytes, false, {}, home, trashFolders).canMoveToTrash();
            roles.push_back(movable ? DiskDuplicateCopyRole::review : DiskDuplicateCopyRole::protected_);
        }
    }
    return roles;
}

namespace {

bool inTrash(const DiskFile& file, const Paths::Home& home, const std::vector<std::string>& trashFolders)
{
    return Paths::isInTrash(Paths::standardized(file.path), home, trashFolders);
}

}  // namespace

std::size_t outsideTrash(const std::vector<DiskFile>& files, const Paths::Home& home,
                         const std::vector<std::string>& trashFolders)
{
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [&](const DiskFile& file) { return !inTrash(file, home, trashFolders); }));
}

std::uint64_t recoverableOutsideTrash(const std::vector<DiskFile>& files, const Paths::Home& home,
                                      const std::vector<std::string>& trashFolders)
{
    std::vector<DiskFile> outside;
    std::copy_if(files.begin(), files.end(), std::back_inserter(outside),
                 [&](const DiskFile& file) { return !inTrash(file, home, trashFolders); });
    return recoverableBytes(outside);
}

DiskVerifiedDuplicateSet outsideTrashFirst(DiskVerifiedDuplicateSet set, const Paths::Home& home,
                                           const std::vector<std::string>& trashFolders)
{
    std::vector<std::size_t> order(set.files.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_partition(order.begin(), order.end(),
                          [&](std::size_t i) { return !inTrash(set.files[i], home, trashFolders); });
    const bool paired = set.identities.size() == set.files.size();
    auto files = std::move(set.files);
    auto identities = std::move(set.identities);
    set.files.clear();
    set.identities.clear();
    for (const auto i : order) {
        set.files.push_back(std::move(files[i]));
        if (paired) set.identities.push_back(std::move(identities[i]));
    }
    if (!paired) set.identities = std::move(identities);
    set.estimatedRecoverableBytes = recoverableOutsideTrash(set.files, home, trashFolders);
    return set;
}

}  // namespace DiskDuplicateCopies
}  // namespace corvalent
