#include "core/process/process_disk_owner.h"

#include <cstdlib>
#include <set>
#include <string>

#include "core/common/paths.h"

namespace corvalent {

DiskProcessOwner diskProcessOwner(const ProcessGroup& group, std::string_view home)
{
    // A working folder is read where it really is: the home may be named through a link.
    const auto spelledHome = Paths::standardized(home);
    std::string realHome = spelledHome;
    if (char* resolved = ::realpath(spelledHome.c_str(), nullptr)) {
        realHome = resolved;
        std::free(resolved);
    }
    std::set<std::string> folders;
    for (const auto& member : group.members) {
        if (member.cwd.empty()) continue;
        const auto folder = Paths::standardized(member.cwd);
        if (Paths::isAtOrBelow(spelledHome, folder) || Paths::isAtOrBelow(realHome, folder)) continue;
        folders.insert(member.cwd);
    }
    return DiskProcessOwner{group.id,         group.title,  group.appPath, {folders.begin(), folders.end()},
                            group.memory, group.cpu};
}

DiskProcessOwner diskProcessOwner(const ProcessGroup& group)
{
    return diskProcessOwner(group, Paths::homeFolder());
}

}  // namespace corvalent
