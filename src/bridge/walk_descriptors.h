#pragma once

// The descriptors of one directory walk: how many it may hold, and an open
// that waits rather than fail when the process has none to spare.

#include <cstddef>
#include <functional>
#include <stop_token>
#include <unistd.h>

namespace corvalent {

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

// How many descriptors one walk may hold, split between its readers and the
// folders it keeps open for their subfolders.
struct DescriptorBudget {
    int readers = 1;
    std::size_t held = 0;
};

// A quarter of the soft open-file limit, and no more than half of what is
// still free, so the rest of the program keeps most of its descriptors; at
// most `maximumReaders` readers, each holding two at a time, and the root
// held for the whole walk.
DescriptorBudget descriptorBudget(int threads, int maximumReaders);

bool outOfDescriptors(int error);

// openat that waits while the process (or the system) has no descriptor to
// spare, calling `beforeWaiting` (when set) first each time. Returns -1 with
// errno set for any other failure, or when `stop` ends the wait.
int openPatiently(int at, const char* name, int flags, const std::stop_token& stop,
                  const std::function<void()>& beforeWaiting);

}  // namespace corvalent
