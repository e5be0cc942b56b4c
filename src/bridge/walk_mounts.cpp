#include "bridge/walk_mounts.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cerrno>
#include <string>
#include <vector>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "bridge/walk_descriptors.h"

namespace corvalent::walk {

std::unique_ptr<MountPlace> mountsBelow(std::string_view table, std::string_view root)
{
    return mountsBelow(parseMountInfo(table), root);
}

std::unique_ptr<MountPlace> mountsBelow(const std::vector<MountEntry>& all, std::string_view root)
{
    while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
    const auto* holding = mountHolding(all, root);
    const auto deviceOf = [](const MountEntry& entry) -> std::uint64_t { return makedev(entry.major, entry.minor); };

    std::unique_ptr<MountPlace> top;
    for (const auto& mount : all) {
        if (mount.mountPoint.size() <= root.size() || !isAtOrBelow(mount.mountPoint, root)) continue;
        if (!top) top = std::make_unique<MountPlace>();
        MountPlace* place = top.get();
        std::string_view rest = std::string_view(mount.mountPoint).substr(root == "/" ? 1 : root.size() + 1);
        while (!rest.empty()) {
            const auto slash = rest.find('/');
            const auto name = rest.substr(0, slash);
            rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
            if (name.empty()) continue;
            auto& next = place->below[std::string(name)];
            if (!next) next = std::make_unique<MountPlace>();
            place = next.get();
        }
        place->mountPoint = true;
        place->device = deviceOf(mount);
        place->otherFileSystem = holding == nullptr || deviceOf(mount) != deviceOf(*holding);
    }
    return top;
}

std::unique_ptr<MountPlace> mountsBelowFolder(int root, const std::stop_token& stop)
{
    const auto path = pathOfOpen(root);
    if (path.empty() || path[0] != '/') return nullptr;
    const FileDescriptor table(openPatiently(AT_FDCWD, "/proc/self/mountinfo", O_RDONLY | O_CLOEXEC, stop, {}));
    if (!table.valid()) return nullptr;
    const auto text = readMountInfo(table.get());
    return text ? mountsBelow(*text, path) : nullptr;
}

}  // namespace corvalent::walk
