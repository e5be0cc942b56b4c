#include "bridge/process_bridge.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "bridge/proc_files.h"
#include "bridge/proc_text.h"

namespace corvalent {
namespace {

struct KernelClock {
    std::uint64_t bootEpochMicros;  // wall-clock time of boot, taken once
    std::uint64_t ticksPerSecond;
};

// Start times are boot-relative ticks. The boot epoch is taken once per run
// from the two clocks (never /proc/stat's btime, which is whole seconds and
// moves when the clock is stepped) so that a process keeps one start time,
// and so one id, for as long as this program runs.
const KernelClock& kernelClock()
{
    static const KernelClock clock = [] {
        timespec real{};
        timespec boot{};
        ::clock_gettime(CLOCK_REALTIME, &real);
        ::clock_gettime(CLOCK_BOOTTIME, &boot);
        const auto micros = (static_cast<std::int64_t>(real.tv_sec) - boot.tv_sec) * 1'000'000 +
                            (static_cast<std::int64_t>(real.tv_nsec) - boot.tv_nsec) / 1'000;
        const long hz = ::sysconf(_SC_CLK_TCK);
        return KernelClock{static_cast<std::uint64_t>(std::max<std::int64_t>(micros, 0)),
                           static_cast<std::uint64_t>(hz > 0 ? hz : 100)};
    }();
    return clock;
}

std::uint64_t ticksIn(std::uint64_t ticks, std::uint64_t unitsPerSecond)
{
    const auto hz = kernelClock().ticksPerSecond;
    return ticks / hz * unitsPerSecond + ticks % hz * unitsPerSecond / hz;
}

void copyText(char* destination, std::size_t capacity, std::string_view text)
{
    const auto length = std::min(text.size(), capacity - 1);
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

// A heap buffer for the argument area that is wiped before it is released:
// arguments can hold secrets.
class ArgumentBuffer {
public:
    ~ArgumentBuffer() { release(); }
    ArgumentBuffer() = default;
    ArgumentBuffer(const ArgumentBuffer&) = delete;
    ArgumentBuffer& operator=(const ArgumentBuffer&) = delete;

    // Grows to `capacity` bytes keeping the first `keep`; false when out of memory.
    bool grow(std::size_t capacity, std::size_t keep)
    {
        auto* bigger = static_cast<char*>(std::calloc(capacity, 1));
        if (bigger == nullptr) return false;
        if (keep > 0) std::memcpy(bigger, data_, keep);
        release();
        data_ = bigger;
        capacity_ = capacity;
        return true;
    }
    char* data() { return data_; }
    std::size_t capacity() const { return capacity_; }

private:
    void release()
    {
        if (data_ == nullptr) return;
        ::explicit_bzero(data_, capacity_);
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
    }
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// Reads /proc/PID/cmdline (NUL-separated arguments) and stores the role it
// names. Areas over the limit, unreadable ones and allocation failures leave
// the role empty.
void readRole(int processDir, PLProcessInfo* out)
{
    const int fd = ::openat(processDir, "cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    const proc_files::FileDescriptor file(fd);

    ArgumentBuffer buffer;
    std::size_t filled = 0;
    for (;;) {
        if (filled == buffer.capacity()) {
            // One byte past the limit tells an oversized area from one that fits exactly.
            const auto next = std::min(std::max<std::size_t>(buffer.capacity() * 4, 4096),
                                       proc_text::maxArgumentArea + 1);
            if (next == buffer.capacity() || !buffer.grow(next, filled)) return;
        }
        const auto n = ::read(fd, buffer.data() + filled, buffer.capacity() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
        if (filled > proc_text::maxArgumentArea) return;
    }
    const auto role = proc_text::roleFromArguments(std::string_view(buffer.data(), filled));
    if (!role.empty()) copyText(out->role, sizeof out->role, role);
}

bool parsePid(const char* text, std::int32_t& pid)
{
    const auto length = std::strlen(text);
    const auto [end, ec] = std::from_chars(text, text + length, pid);
    return ec == std::errc{} && end == text + length && pid > 0;
}

}  // namespace

std::int32_t pl_list(std::int32_t* pids, std::int32_t capacity)
{
    if (pids == nullptr || capacity < 1 || capacity > 0x1fffffff) return 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return errno > 0 ? -errno : -1;
    std::int32_t count = 0;
    while (count < capacity) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr) break;
        std::int32_t pid = 0;
        if (parsePid(entry->d_name, pid)) pids[count++] = pid;
    }
    ::closedir(proc);
    return count;
}

std::int32_t pl_read(std::int32_t pid, PLProcessInfo* out)
{
    if (pid < 1 || out == nullptr) return 0;
    std::memset(out, 0, sizeof *out);

    // Every file is read through the one directory handle: it stays bound to
    // this process instance, so a pid reused halfway cannot mix two processes.
    char dirName[32] = "/proc/";
    std::to_chars(dirName + 6, dirName + sizeof dirName - 1, pid);
    const proc_files::FileDescriptor processDir(::open(dirName, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (processDir.get() < 0) return 0;

    char statText[1024];
    const auto stat = proc_files::readAt(processDir.get(), "stat", statText, sizeof statText);
    const auto fields = stat.ok ? proc_text::parseStat(stat.text) : std::nullopt;
    if (!fields) return 0;
    // A zombie has exited and a kernel thread is no program: neither can be stopped.
    if (fields->state == 'Z' || fields->state == 'X' || (fields->flags & proc_text::kernelThreadFlag) != 0) return 0;

    char statusText[8192];
    const auto status = proc_files::readAt(processDir.get(), "status", statusText, sizeof statusText);
    const auto statusFields = proc_text::parseStatus(status.text);
    // Without its owner a process cannot be judged; treat it as unreadable.
    if (!status.ok || !statusFields.effectiveUid) return 0;

    out->pid = pid;
    out->parent = fields->parent;
    out->uid = *statusFields.effectiveUid;
    out->started = kernelClock().bootEpochMicros + ticksIn(fields->startTicks, 1'000'000);
    out->cpuTime = ticksIn(fields->utimeTicks + fields->stimeTicks, 1'000'000'000);
    if (statusFields.rssAnonKiB) {
        out->hasMemory = 1;
        out->footprint = (*statusFields.rssAnonKiB + statusFields.vmSwapKiB.value_or(0)) * 1024;
    }

    // The kernel cuts comm to 15 bytes and lets a process retitle itself, so
    // the executable's file name is the name whenever it can be read.
    // A memory file or a replaced executable names no program: the command
    // name does, while the path keeps such programs apart.
    const bool linked = proc_files::readLinkAt(processDir.get(), "exe", out->path, sizeof out->path);
    const auto executable = linked ? proc_text::executableName(out->path) : std::string_view();
    copyText(out->name, sizeof out->name, executable.empty() ? std::string_view(fields->comm) : executable);

    // A sandboxed program reads as "/app/…"; its cgroup names the application.
    // Read for those only: the cgroup file costs as much as stat.
    if (linked && std::string_view(out->path).starts_with("/app/")) {
        char cgroupText[2048];
        const auto cgroup = proc_files::readAt(processDir.get(), "cgroup", cgroupText, sizeof cgroupText);
        if (cgroup.ok) copyText(out->flatpakApp, sizeof out->flatpakApp, proc_text::flatpakAppFromCgroup(cgroup.text));
    }

    if (out->uid != ::getuid()) return 1;

    proc_files::readLinkAt(processDir.get(), "cwd", out->cwd, sizeof out->cwd);
    if (proc_text::nameWantsRole(out->name)) readRole(processDir.get(), out);
    return 1;
}

}  // namespace corvalent
