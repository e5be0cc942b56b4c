#include "core/process/process_disk_owner.h"

#include <set>
#include <string>

#include "core/common/paths.h"

namespace corvalent {

DiskProcessOwner diskProcessOwner(const ProcessGroup& group, const Paths::Home& home)
{
    std::set<std::string> folders;
    for (const auto& member : group.members) {
        if (member.cwd.empty()) continue;
        const auto folder = Paths::standardized(member.cwd);
        if (home.isAtOrBelow(folder)) continue;
        folders.insert(member.cwd);
    }
    return DiskProcessOwner{group.id,         group.title,  group.appPath, {folders.begin(), folders.end()},
                            group.memory, group.cpu};
}

DiskProcessOwner diskProcessOwner(const ProcessGroup& group)
{
    return diskProcessOwner(group, Paths::Home::current());
}

}  // namespace corvalent
