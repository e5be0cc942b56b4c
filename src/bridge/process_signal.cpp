#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>

// glibc 2.36 declares the pidfd functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include "bridge/proc_files.h"
#include "bridge/proc_text.h"
#include "bridge/process_bridge.h"

namespace corvalent {

std::int32_t pl_signal(std::int32_t pid, std::uint64_t started, const char* path, std::int32_t force)
{
    if (static_cast<std::uint32_t>(force) > 1) return EINVAL;
    if (pid < 1) return ESRCH;

    // The handle is taken before the checks: if the pid is reused after this
    // point, the handle still names the process that was checked (which has
    // then exited), so the signal can never reach the newcomer.
    const FileDescriptor handle(::pidfd_open(pid, 0));
    if (handle.get() < 0) return errno;

    PLProcessInfo fresh;
    if (pl_read(pid, &fresh) == 0) return ESRCH;
    if (path == nullptr || fresh.started != started) return ESTALE;
    if (std::strcmp(fresh.path, path) != 0) return ESTALE;
    if (pl_protection_reason(fresh.pid, fresh.uid, fresh.path, fresh.name) != 0) return EPERM;

    if (::pidfd_send_signal(handle.get(), force == 1 ? SIGKILL : SIGTERM, nullptr, 0) != 0) return errno;
    return 0;
}

std::int32_t pl_memory_pressure()
{
    char pressure[512];
    char meminfo[4096];
    const auto psi = proc_files::readAt(AT_FDCWD, "/proc/pressure/memory", pressure, sizeof pressure);
    const auto mem = proc_files::readAt(AT_FDCWD, "/proc/meminfo", meminfo, sizeof meminfo);
    return proc_text::pressureLevel(proc_text::pressureAvg10(psi.text, "some"), proc_text::pressureAvg10(psi.text, "full"),
                                    proc_text::meminfoKiB(mem.text, "MemAvailable"),
                                    proc_text::meminfoKiB(mem.text, "MemTotal"));
}

std::int64_t pl_swap_used()
{
    char meminfo[4096];
    const auto mem = proc_files::readAt(AT_FDCWD, "/proc/meminfo", meminfo, sizeof meminfo);
    return mem.ok ? proc_text::swapUsedBytes(mem.text) : -1;
}

}  // namespace corvalent
