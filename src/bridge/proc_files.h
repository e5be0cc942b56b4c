#pragma once

// Small, allocation-free reads of /proc files into caller buffers.

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "bridge/file_descriptor.h"

namespace corvalent::proc_files {

// Reads up to `capacity` bytes of the file `name` relative to `dirfd`
// (AT_FDCWD for absolute names). `ok` is false when the file cannot be
// opened or read.
struct ReadResult {
    std::string_view text;
    bool ok = false;
};

// Reads an open file. The kernel writes each of the small /proc files read
// here (stat, statm, status, cgroup, meminfo, pressure) in one piece, so a
// read that returns less than asked has returned all of it: no second read
// to see the end.
inline ReadResult readFrom(int fd, char* buffer, std::size_t capacity)
{
    std::size_t filled = 0;
    while (filled < capacity) {
        const auto n = ::read(fd, buffer + filled, capacity - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        if (n == 0) break;
        const bool whole = static_cast<std::size_t>(n) < capacity - filled;
        filled += static_cast<std::size_t>(n);
        if (whole) break;
    }
    return {std::string_view(buffer, filled), true};
}

inline ReadResult readAt(int dirfd, const char* name, char* buffer, std::size_t capacity)
{
    const FileDescriptor file(::openat(dirfd, name, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return {};
    return readFrom(file.get(), buffer, capacity);
}

// readlinkat into `buffer` with a NUL; false when unreadable or when the
// target does not fit (a cut path would name another file).
inline bool readLinkAt(int dirfd, const char* name, char* buffer, std::size_t capacity)
{
    buffer[0] = '\0';
    const auto n = ::readlinkat(dirfd, name, buffer, capacity);
    if (n <= 0 || static_cast<std::size_t>(n) >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    buffer[n] = '\0';
    return true;
}

}  // namespace corvalent::proc_files
