#include "core/disk/trash/disk_item_identity.h"

#include <utility>

#include "core/common/paths.h"
#include "core/disk/trash/link_free_walk.h"

namespace corvalent {

DiskItemExamined DiskItemExamined::at(std::string_view path)
{
    auto normalised = Paths::standardized(path);
    if (!normalised.starts_with('/') || normalised == "/") throw DiskTrashError(DiskTrashError::Kind::protectedPath);
    struct stat info {};
    try {
        info = LinkFreeWalk::reach(normalised).info;
    } catch (const LinkFreeWalk::Error& error) {
        throw DiskTrashRefusals::unreachable(normalised, error.reached(), error.code());
    }
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) throw DiskTrashError(DiskTrashError::Kind::unsupportedItem);
    return {std::move(normalised), info};
}

DiskItemIdentity DiskItemExamined::identity() const
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

DiskFileTime DiskItemExamined::changed() const
{
    return {info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

bool DiskItemExamined::matches(const DiskRecordedIdentity& record) const
{
    const auto is = identity();
    const auto& was = record.identity;
    const auto& fields = record.fields;
    return is.device == was.device && is.inode == was.inode && (is.mode & S_IFMT) == (was.mode & S_IFMT) &&
           (!fields.size || is.size == was.size) &&
           (!fields.modified ||
            (is.modifiedSeconds == was.modifiedSeconds && is.modifiedNanoseconds == was.modifiedNanoseconds)) &&
           (!fields.permissions || is.mode == was.mode) && (!fields.owner || is.owner == was.owner) &&
           (!record.changed || changed() == *record.changed);
}

DiskItemIdentity DiskItemIdentity::capture(std::string_view path)
{
    return DiskItemExamined::at(path).identity();
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
    identity.modifiedSeconds = item.modified ? item.modified->seconds : 0;
    identity.modifiedNanoseconds = item.modified ? item.modified->nanoseconds : 0;
    identity.mode = static_cast<std::uint16_t>(item.isDirectory ? S_IFDIR : S_IFREG);
    const Fields fields{.size = item.logicalBytes.has_value(),
                        .modified = item.modified.has_value(),
                        .permissions = false,
                        .owner = false};
    return DiskRecordedIdentity{std::move(identity), DiskTrashError::Kind::identityChanged, fields};
}

DiskRecordedIdentity DiskRecordedIdentity::capture(std::string_view path)
{
    const auto examined = DiskItemExamined::at(path);
    return DiskRecordedIdentity{examined.identity(), DiskTrashError::Kind::identityChanged, {}, examined.changed()};
}

}  // namespace corvalent
