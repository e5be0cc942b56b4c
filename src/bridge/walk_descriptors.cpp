#include "bridge/walk_descriptors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>

namespace corvalent {

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

int openPatiently(int at, const char* name, int flags, const std::stop_token& stop,
                  const std::function<void()>& beforeWaiting)
{
    for (int waits = 0;; ++waits) {
        const int fd = ::openat(at, name, flags);
        if (fd >= 0 || !outOfDescriptors(errno)) return fd;
        if (beforeWaiting) beforeWaiting();
        if (stop.stop_requested()) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1 + waits, 20)));
    }
}

namespace {

// Descriptors one walk holds at most, however high the open-file limit.
constexpr std::uint64_t maximumDescriptors = 1'024;

std::uint64_t descriptorsInUse()
{
    std::uint64_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr) ++count;
        ::closedir(folder);
    }
    return count;
}

}  // namespace

DescriptorBudget descriptorBudget(int threads, int maximumReaders)
{
    std::uint64_t soft = 1'024;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        soft = limit.rlim_cur == RLIM_INFINITY ? maximumDescriptors * 4 : limit.rlim_cur;
    const std::uint64_t inUse = descriptorsInUse();
    const std::uint64_t spare = soft > inUse ? soft - inUse : 0;
    const std::uint64_t total = std::clamp<std::uint64_t>(std::min(soft / 4, spare / 2), 4, maximumDescriptors);
    // A reader holds two at a time (a folder and the one it opens from it);
    // the root stays open for the whole walk.
    DescriptorBudget budget;
    const auto mostReaders = std::clamp<std::uint64_t>(total / 4, 1, static_cast<std::uint64_t>(std::max(maximumReaders, 1)));
    budget.readers = std::clamp(threads, 1, static_cast<int>(mostReaders));
    budget.held = static_cast<std::size_t>(total - 1 - std::min<std::uint64_t>(total - 1, 2 * budget.readers));
    return budget;
}

}  // namespace corvalent
