#include "core/disk_duplicates.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <numeric>
#include <system_error>
#include <utility>

#include "core/saturating.h"

namespace corvalent {
namespace {

using Digest = std::array<unsigned char, 32>;

constexpr std::size_t readChunk = 1'048'576;

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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

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
    DiskItemIdentity identity;
};

// One file's full contents hashed, with its identity unchanged from before
// the first read to after the last one.
Member hashFile(const DiskFile& file, std::uint64_t expectedSize, unsigned char* buffer, EVP_MD_CTX* context,
                Digest& digest, const std::stop_token& stop)
{
    if (stop.stop_requested()) throw DiskDuplicateVerificationError::cancelled();
    const auto name = std::string(file.name());
    const auto before = DiskItemIdentity::capture(file.path);
    // A different size, or another file at the path the scan recorded, means
    // this is no longer the file the scan grouped.
    const bool replaced = file.device != 0 && file.inode != 0 && (before.device != file.device || before.inode != file.inode);
    if (before.size != expectedSize || replaced) throw DiskDuplicateVerificationError::changed(name);

    FileDescriptor fd(::open(before.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) throw DiskTrashError::unavailable(errnoText(errno));
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) throw DiskTrashError::unavailable(errnoText(errno));
    // Something else may have taken the path between the capture and the open.
    if (static_cast<std::uint64_t>(opened.st_dev) != before.device ||
        static_cast<std::uint64_t>(opened.st_ino) != before.inode)
        throw DiskDuplicateVerificationError::changed(name);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) hashingFailed();
    for (;;) {
        if (stop.stop_requested()) throw DiskDuplicateVerificationError::cancelled();
        ssize_t count = 0;
        do {
            count = ::read(fd.get(), buffer, readChunk);
        } while (count < 0 && errno == EINTR);
        if (count < 0) throw DiskTrashError::unavailable(errnoText(errno));
        if (count == 0) break;
        if (EVP_DigestUpdate(context, buffer, static_cast<std::size_t>(count)) != 1) hashingFailed();
    }
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1 || length != digest.size()) hashingFailed();
    // Closed before the second look, so that a change seen while the file is
    // still open always falls between the two looks.
    fd.reset();

    auto after = DiskItemIdentity::capture(file.path);
    if (after != before) throw DiskDuplicateVerificationError::changed(name);
    return Member{file, std::move(after)};
}

}  // namespace

DiskVerifiedDuplicateSet DiskVerifiedDuplicateSet::make(const Digest& digest, std::vector<DiskFile> files,
                                                        std::vector<DiskItemIdentity> identities)
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

std::vector<DiskVerifiedDuplicateSet> verify(const DiskDuplicateGroup& group, std::stop_token stop)
{
    const DigestContext context(EVP_MD_CTX_new());
    if (!context) hashingFailed();
    // One buffer for the whole group; its contents are always written before they are read.
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(readChunk);

    std::map<Digest, std::pair<std::vector<DiskFile>, std::vector<DiskItemIdentity>>> byDigest;
    for (const auto& file : group.files) {
        Digest digest{};
        auto member = hashFile(file, group.logicalBytesPerFile, buffer.get(), context.get(), digest, stop);
        auto& entry = byDigest[digest];
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
}  // namespace corvalent
