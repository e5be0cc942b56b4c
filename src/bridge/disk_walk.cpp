#include "bridge/disk_walk.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fts.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>

#include "bridge/process_bridge.h"

namespace corvalent {
namespace {

constexpr std::array<std::string_view, 9> privacyProtectedSuffixes{
    "/Desktop",          "/Documents",       "/Downloads",
    "/Library/CloudStorage", "/Library/Mail", "/Library/Messages",
    "/Library/Mobile Documents", "/Library/Safari", "/Pictures/Photos Library.photoslibrary",
};

constexpr std::uint64_t tickMask = 2'048 - 1;

void increment(std::uint64_t& counter)
{
    if (counter != std::numeric_limits<std::uint64_t>::max()) ++counter;
}

std::uint64_t allocatedBytes(const struct stat& info)
{
    if (info.st_blocks <= 0) return 0;
    const auto blocks = static_cast<std::uint64_t>(info.st_blocks);
    constexpr auto maxBlocks = std::numeric_limits<std::uint64_t>::max() / 512;
    return blocks > maxBlocks ? std::numeric_limits<std::uint64_t>::max() : blocks * 512;
}

int errnoOr(int fallback)
{
    return errno != 0 ? errno : fallback;
}

}  // namespace

std::int32_t pl_should_skip_privacy_path(const char* root, const char* path)
{
    if (root == nullptr || path == nullptr) return 0;
    const std::string_view home = pl_account_home();
    if (home.empty()) return 0;
    const std::string_view pathText(path);
    if (pathText == std::string_view(root)) return 0;
    if (!pathText.starts_with(home)) return 0;
    const auto rest = pathText.substr(home.size());
    for (const auto suffix : privacyProtectedSuffixes)
        if (rest == suffix) return 1;
    return 0;
}

std::int32_t pl_scan_disk(const char* root, std::int32_t skipPrivacy, PLDiskScanCallback callback, void* context,
                          PLDiskScanStats* stats)
{
    if (root == nullptr || root[0] == '\0' || stats == nullptr) return EINVAL;
    std::memset(stats, 0, sizeof *stats);

    char* copy = ::strdup(root);
    if (copy == nullptr) return ENOMEM;
    char* paths[] = {copy, nullptr};
    errno = 0;
    FTS* walk = ::fts_open(paths, FTS_NOCHDIR | FTS_PHYSICAL | FTS_XDEV, nullptr);
    if (walk == nullptr) {
        stats->inaccessible = 1;
        const int error = errnoOr(EIO);
        std::free(copy);
        return error;
    }

    const bool rootIsSlash = std::string_view(copy) == "/";
    const auto tick = [&] {
        return callback == nullptr || (stats->entries & tickMask) != 0 ||
               callback(nullptr, 0, 0, 0, 0, 0, 0, stats->entries, context) != 0;
    };

    int result = 0;
    const FTSENT* previous = nullptr;
    unsigned short previousInfo = 0;
    for (;;) {
        errno = 0;
        FTSENT* entry = ::fts_read(walk);
        if (entry == nullptr) {
            result = errno;
            break;
        }
        const auto info = entry->fts_info;
        // An unreadable folder comes back once more in place of its post-order
        // visit: it was counted as an entry when it was first met.
        const bool revisit = (info == FTS_DNR || info == FTS_ERR) && entry == previous && previousInfo == FTS_D;
        previous = entry;
        previousInfo = info;
        if (info == FTS_DP) continue;
        if (!revisit) increment(stats->entries);

        bool goOn = true;
        switch (info) {
        case FTS_D: {
            const bool systemVolumes = rootIsSlash && std::string_view(entry->fts_path) == "/System/Volumes";
            const bool privacy = !systemVolumes && skipPrivacy != 0 &&
                                 pl_should_skip_privacy_path(copy, entry->fts_path) == 1;
            if (systemVolumes || privacy) {
                errno = 0;
                if (::fts_set(walk, entry, FTS_SKIP) != 0) {
                    result = errnoOr(EIO);
                    goOn = false;
                    break;
                }
                if (privacy) increment(stats->privacySkipped);
                continue;
            }
            goOn = tick();
            break;
        }
        case FTS_DNR:
        case FTS_ERR:
        case FTS_NS:
            increment(stats->inaccessible);
            goOn = tick();
            break;
        case FTS_F:
            if (callback != nullptr) {
                const struct stat* facts = entry->fts_statp;
                goOn = facts != nullptr
                           ? callback(entry->fts_path, allocatedBytes(*facts),
                                      facts->st_size > 0 ? static_cast<std::uint64_t>(facts->st_size) : 0,
                                      static_cast<std::uint64_t>(facts->st_dev), static_cast<std::uint64_t>(facts->st_ino),
                                      static_cast<std::uint32_t>(facts->st_nlink), 0, stats->entries, context) != 0
                           : callback(entry->fts_path, 0, 0, 0, 0, 1, 0, stats->entries, context) != 0;
            }
            break;
        default:
            goOn = tick();
            break;
        }
        if (!goOn) {
            if (result == 0) stats->cancelled = 1;
            break;
        }
    }

    errno = 0;
    if (::fts_close(walk) != 0 && result == 0) result = errnoOr(EIO);
    std::free(copy);
    return result;
}

}  // namespace corvalent
