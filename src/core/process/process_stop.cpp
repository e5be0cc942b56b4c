#include "core/process/process_stop.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <system_error>

namespace corvalent {
namespace ProcessStop {
namespace {

// The application whose quit request stands for `fresh`'s stop, when the
// user selected all of it: its main process and every stoppable member of
// its group are among the requested ids.
const RunningApplication* wholeApplication(const std::string& bundle, const std::vector<RunningApplication>& applications,
                                           const std::vector<ProcessGroup>& groups,
                                           const std::set<std::string>& requested)
{
    const auto application = std::find_if(applications.begin(), applications.end(),
                                          [&](const RunningApplication& a) { return a.bundlePath == bundle; });
    if (application == applications.end()) return nullptr;
    const auto main = Scanner::read(application->processIdentifier);
    const auto group =
        std::find_if(groups.begin(), groups.end(), [&](const ProcessGroup& g) { return g.appPath == bundle; });
    const bool whole = main && !main->isProtected() && requested.count(main->id()) == 1 && group != groups.end() &&
                       std::all_of(group->stoppableIDs.begin(), group->stoppableIDs.end(),
                                   [&](const std::string& id) { return requested.count(id) == 1; });
    return whole ? &*application : nullptr;
}

ProcessStopOutcome signalled(const ProcessRecord& record, bool force)
{
    const auto code = Scanner::signal(record, force);
    if (code == 0) return {record.id(), ProcessStopResult::signalled, {}};
    if (code == ESRCH) return {record.id(), ProcessStopResult::alreadyGone, {}};
    return {record.id(), code == ESTALE ? ProcessStopResult::refusedAsStale : ProcessStopResult::failed,
            record.name + ": " + std::generic_category().message(code)};
}

}  // namespace

std::vector<ProcessStopOutcome> stop(const std::vector<ProcessRecord>& records, bool force,
                                     const std::vector<RunningApplication>& applications,
                                     const std::vector<ProcessGroup>& groups, const ApplicationIndex& installed,
                                     const QuitRequest& requestQuit)
{
    std::vector<ProcessStopOutcome> outcomes;
    outcomes.reserve(records.size());
    std::map<std::string, ProcessStopResult> handledApplications;  // by application path
    std::set<std::string> requested;
    for (const auto& record : records) requested.insert(record.id());

    for (const auto& record : records) {
        // A process that exited or was replaced is never signalled.
        const auto fresh = Scanner::read(record.pid);
        if (!fresh || fresh->id() != record.id() || fresh->path != record.path) {
            outcomes.push_back({record.id(), ProcessStopResult::alreadyGone, {}});
            continue;
        }
        if (fresh->isProtected()) {
            outcomes.push_back({record.id(), ProcessStopResult::failed, record.name + ": protected"});
            continue;
        }
        if (!force) {
            if (const auto bundle = Classifier::appPath(fresh->path, installed)) {
                // Its quit request went out with an earlier record: the main
                // process may already have exited, which must not turn the
                // rest of the application into signals.
                if (const auto handled = handledApplications.find(*bundle); handled != handledApplications.end()) {
                    outcomes.push_back({record.id(), handled->second, {}});
                    continue;
                }
                if (const auto* application = wholeApplication(*bundle, applications, groups, requested)) {
                    if (requestQuit(*application)) {
                        outcomes.push_back({record.id(), ProcessStopResult::quitRequested, {}});
                    } else {
                        const auto& name =
                            application->localizedName.empty() ? record.name : application->localizedName;
                        outcomes.push_back({record.id(), ProcessStopResult::failed, name + ": quit request declined"});
                    }
                    handledApplications.emplace(*bundle, outcomes.back().result);
                    continue;
                }
            }
        }
        outcomes.push_back(signalled(record, force));
    }
    return outcomes;
}

bool requestQuit(const RunningApplication& application)
{
    const auto code = Scanner::signal(application.mainProcess, false);
    return code == 0 || code == ESRCH;
}

}  // namespace ProcessStop
}  // namespace corvalent
