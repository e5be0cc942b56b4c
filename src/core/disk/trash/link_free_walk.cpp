#include "core/disk/trash/link_free_walk.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <utility>

namespace corvalent::LinkFreeWalk {

Error::Error(int code, std::string reached)
    : std::runtime_error(std::generic_category().message(code)), code_(code), reached_(std::move(reached))
{
}

Reached reach(const std::string& path, const std::function<void(const struct stat&)>& visit)
{
    if (!path.starts_with('/')) throw Error(EINVAL, path);
    Reached at{FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC))};
    if (!at.handle.valid() || ::fstat(at.handle.get(), &at.info) != 0) throw Error(errno, "/");
    std::string running;
    std::size_t start = 1;
    while (start < path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            const auto name = path.substr(start, end - start);
            running.append("/").append(name);
            FileDescriptor next(::openat(at.handle.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid() || ::fstat(next.get(), &at.info) != 0) throw Error(errno, running);
            if (S_ISLNK(at.info.st_mode)) throw Error(ELOOP, running);
            if (visit) visit(at.info);
            at.handle = std::move(next);
        }
        start = end + 1;
    }
    return at;
}

}  // namespace corvalent::LinkFreeWalk
