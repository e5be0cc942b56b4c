#pragma once

// Runs a helper program to completion and collects what it prints, without
// ever blocking the caller for long: the run has a deadline, the output a cap,
// and the child is always reaped. Safe to call from several threads at once,
// never from the GUI thread (debug builds stop there).

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace corvalent {

// This very program, to start again as a child of its own: the kernel's link
// to the running file, which still starts it after an upgrade has replaced
// or removed the file its path named.
inline constexpr std::string_view thisProgram = "/proc/self/exe";

struct ChildRunRequest {
    std::string executable;                     // absolute path; no search in PATH
    std::vector<std::string> arguments;         // argv[1...]
    std::size_t outputCap = 65'536;             // bytes of stdout kept at most
    std::chrono::milliseconds deadline{1'500};  // whole run
    std::chrono::milliseconds killGrace{500};   // SIGTERM, then SIGKILL this much later
    bool captureOutput = true;                  // false: stdout goes to /dev/null too
    std::stop_token stop;                       // a stop ends the run as the deadline does
    // For a child that outlives the run (see `outlived`): called once it is
    // reaped, on the thread that waits for it.
    std::function<void()> reapedLater{};
};

struct ChildRunResult {
    bool launched = false;
    std::string output;             // what was read, at most outputCap bytes
    bool overflowed = false;        // the child wrote more than outputCap
    bool timedOut = false;          // the deadline ended the run, or the child outlived SIGKILL
    bool stopped = false;           // a stop request ended the run
    std::optional<int> exitStatus;  // exit code when the child exited normally
    bool outlived = false;          // the child was still there when the run returned

    bool operator==(const ChildRunResult&) const = default;
};

// stdin and stderr are /dev/null; the environment, working folder and other
// inheritable descriptors are the caller's. Returns after at most about
// deadline + killGrace, even when the child ignores SIGTERM, leaves a
// descendant holding its stdout open, or cannot die yet (frozen, stuck in the
// kernel): such a child is reaped by a thread of its own once it ends.
ChildRunResult runChild(const ChildRunRequest& request);

}  // namespace corvalent
