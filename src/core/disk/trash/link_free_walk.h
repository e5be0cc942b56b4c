#pragma once

// The one way the Trash reaches a path: from "/" one name at a time, each
// opened relative to the folder before it and never through a symbolic
// link. A folder on the way that is swapped for a link after it was opened
// is not reached again by name: the walk goes on in the folder it holds.

#include <functional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

#include "bridge/file_descriptor.h"

namespace corvalent::LinkFreeWalk {

// Where a walk stopped: the errno value (ELOOP for a symbolic link, EINVAL
// for a path that is not absolute) and the path up to the name it stopped at.
class Error : public std::runtime_error {
public:
    Error(int code, std::string reached);
    int code() const { return code_; }
    const std::string& reached() const { return reached_; }

private:
    int code_;
    std::string reached_;
};

// The last name of the path, held open as a place only (O_PATH), and its lstat record.
struct Reached {
    FileDescriptor handle;
    struct stat info {};
};

// Reaches the absolute `path`; "/" itself is reached at once. `visit` sees
// each name's record as it is reached, the last one included, before the
// walk goes on; it may throw to stop the walk. Throws Error otherwise.
Reached reach(const std::string& path, const std::function<void(const struct stat&)>& visit = {});

}  // namespace corvalent::LinkFreeWalk
