#pragma once

// Running applications and their normal quit request. Linux has neither
// application bundles nor a quit request of its own: an application is a
// process group with an application path, its main process is the member
// whose parent lies outside the group, and the quit request is SIGTERM to
// that process through the identity-checked signal.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/process/process_stop.h"

namespace corvalent {

class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // The applications among `groups`, in group order.
    virtual std::vector<RunningApplication> list(const std::vector<ProcessGroup>& groups) = 0;
    // Sends the normal quit request; false when it was declined.
    virtual bool terminate(const RunningApplication& application) = 0;
};

std::shared_ptr<RunningApplications> systemRunningApplications();

}  // namespace corvalent
