#include "models/running_applications.h"

#include <algorithm>

namespace corvalent {
namespace {

class GroupApplications : public RunningApplications {
public:
    std::vector<RunningApplication> list(const std::vector<ProcessGroup>& groups) override
    {
        std::vector<RunningApplication> applications;
        for (const auto& group : groups) {
            if (!group.appPath) continue;
            const auto main = std::find_if(group.members.begin(), group.members.end(), [&](const ProcessRecord& m) {
                return std::none_of(group.members.begin(), group.members.end(),
                                    [&](const ProcessRecord& other) { return other.pid == m.parent; });
            });
            if (main == group.members.end()) continue;
            applications.push_back({group.appPath, main->pid, group.title, *main});
        }
        return applications;
    }

    bool terminate(const RunningApplication& application) override
    {
        return ProcessStop::requestQuit(application);
    }
};

}  // namespace

std::shared_ptr<RunningApplications> systemRunningApplications()
{
    return std::make_shared<GroupApplications>();
}

}  // namespace corvalent
