#pragma once

// Items looked at in a process of this program's own. A move relies on
// items besides the one it moves (every copy its verified set still counts),
// and those may lie on any disk, one that no longer answers among them: a
// thread of the program caught there would hold the move, every later one
// and the quit for as long as the disk is gone, even through SIGKILL. The
// helper is given a bound, and one caught on such a disk is left to end by
// itself whenever the disk answers.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "core/common/child_process.h"

namespace corvalent::DiskItemsApart {

// The argument that makes the program look at the paths after it and end.
inline constexpr std::string_view helperFlag = "--examine-items";

// How long the helper may take for all the paths it is given.
inline constexpr std::chrono::milliseconds answerLimit{2'000};

// What the helper found at one path: its lstat record, or nothing where no
// item could be examined there (gone, behind a symbolic link, neither a file
// nor a folder, out of reach).
using Found = std::optional<struct stat>;

// Looks at `paths` by running `program` (this program, unless a test names
// another) with helperFlag and the paths. The answers come in the order of
// the paths; fewer answers than paths means that the helper did not answer
// for the rest within `limit`, and the first of those is the path it waits
// on. Blocking for about `limit` at most: call it off the GUI thread.
std::vector<Found> examine(const std::vector<std::string>& paths, std::chrono::milliseconds limit = answerLimit,
                           const std::string& program = std::string(thisProgram));

// The helper's side: prints what `look` finds at each path, each answer as
// soon as it is known; `look` throws where there is nothing to record.
// Returns the exit status.
int print(int count, char** paths, const std::function<struct stat(const std::string&)>& look);

// One answer as the helper writes it, and the helper's output read back; a
// record cut short is no answer.
std::string encode(const Found& found);
std::vector<Found> decode(std::string_view output);

}  // namespace corvalent::DiskItemsApart
