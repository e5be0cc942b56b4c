#pragma once

// The plan of one stop, carried out: for each requested process, in order,
// whether its application is asked to quit, it gets a signal, or it is
// skipped, and what came of it. Nothing here throws; every problem is an
// outcome.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/process/processes.h"

namespace corvalent {

// A running application as a stop sees it: an application path and the main
// process its quit request goes to.
struct RunningApplication {
    std::optional<std::string> bundlePath;
    std::int32_t processIdentifier = 0;
    std::string localizedName;
    ProcessRecord mainProcess;  // as sampled: its identity is checked again before the request
};

enum class ProcessStopResult {
    signalled,       // the signal went out
    quitRequested,   // its application was asked to quit (for it or an earlier record): no signal
    alreadyGone,     // exited, or its pid names another process now: never signalled
    refusedAsStale,  // the last identity check before the signal failed: not stopped
    failed,          // protected, quit request declined, or the signal failed
};

struct ProcessStopOutcome {
    std::string id;  // the requested record's
    ProcessStopResult result = ProcessStopResult::signalled;
    // "<name>: <reason>" when the stop did not go out; "" otherwise, and for
    // the later records of an application whose declined quit request an
    // earlier record named.
    std::string failure;
    bool operator==(const ProcessStopOutcome&) const = default;
};

namespace ProcessStop {

// Sends an application's normal quit request; false when it was declined.
using QuitRequest = std::function<bool(const RunningApplication&)>;

// Stops `records` (pid ascending). Without `force`, a whole application the
// user selected (its main process and every stoppable member of its group in
// `groups`) gets one quit request instead of signals; `applications` and
// `groups` are the ones taken when the stop began. One outcome per record,
// in order.
std::vector<ProcessStopOutcome> stop(const std::vector<ProcessRecord>& records, bool force,
                                     const std::vector<RunningApplication>& applications,
                                     const std::vector<ProcessGroup>& groups, const ApplicationIndex& installed,
                                     const QuitRequest& requestQuit);

// The quit request on this system: the termination signal to the main
// process, identity checked. A main process already gone has quit.
bool requestQuit(const RunningApplication& application);

}  // namespace ProcessStop

}  // namespace corvalent
