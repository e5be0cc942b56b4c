#pragma once

// Starts a program that goes on by itself (the file manager's opener, a new
// instance of this program) and never waits for it to end.

#include <chrono>
#include <string>
#include <vector>

namespace corvalent {

enum class ProgramStart {
    started,   // the program runs
    notFound,  // no such program, or it cannot be run
    noAnswer,  // the search for it did not end within the limit
    failed,    // no process could be made
};

// Runs `command` (a name looked up in PATH, or a path, then its arguments)
// with stdin, stdout and stderr on /dev/null, in a session of its own, every
// signal at its default. The lookup runs in a process of its own, never on
// the caller's thread: a folder in PATH on a share that does not answer
// holds that process only. The started program is nobody's child here once
// this returns, so it never stays a zombie. Blocking for at most about
// `limit`: call it off the GUI thread unless `command` names a path.
ProgramStart startProgram(const std::vector<std::string>& command,
                          std::chrono::milliseconds limit = std::chrono::seconds(3));

}  // namespace corvalent
