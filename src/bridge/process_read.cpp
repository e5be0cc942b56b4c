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
#include <sys/stat.h>
#include <sched.h>
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
    const FileDescriptor file(fd);

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

// A zombie has exited and a kernel thread is no program: neither can be stopped.
bool isProgram(const proc_text::StatFields& fields)
{
    return fields.state != 'Z' && fields.state != 'X' && (fields.flags & proc_text::kernelThreadFlag) == 0;
}

// The figures every read takes from stat.
void fillFromStat(std::int32_t pid, const proc_text::StatFields& fields, PLProcessInfo* out)
{
    out->pid = pid;
    out->parent = fields.parent;
    out->started = kernelClock().bootEpochMicros + ticksIn(fields.startTicks, 1'000'000);
    out->cpuTime = ticksIn(fields.utimeTicks + fields.stimeTicks, 1'000'000'000);
    out->image = fields.image;
}

// The footprint is anonymous resident plus swapped memory.
void footprintFromStatus(const proc_text::StatusFields& status, PLProcessInfo* out)
{
    if (!status.rssAnonKiB) return;
    out->hasMemory = 1;
    out->footprint = (*status.rssAnonKiB + status.vmSwapKiB.value_or(0)) * 1024;
}

// The same while no swap is in use: statm's anonymous pages, for a read of
// a file the kernel writes in a fraction of the time of status.
void footprintFromStatm(const proc_files::ReadResult& statm, PLProcessInfo* out)
{
    static const long pageSize = ::sysconf(_SC_PAGESIZE);
    const auto pages = statm.ok ? proc_text::anonymousPagesFromStatm(statm.text) : std::nullopt;
    if (!pages || pageSize <= 0) return;
    out->hasMemory = 1;
    out->footprint = *pages * static_cast<std::uint64_t>(pageSize);
}

// The texts of a first read of a program: its name and executable, a
// sandbox's application, and for the caller's own processes the working
// folder and the role. A later sample reads only the working folder again.
void readIdentity(int processDir, std::string_view comm, PLProcessInfo* out)
{
    // The kernel cuts comm to 15 bytes and lets a process retitle itself, so
    // the executable's file name is the name whenever it can be read.
    // A memory file or a replaced executable names no program: the command
    // name does, while the path keeps such programs apart.
    const bool linked = proc_files::readLinkAt(processDir, "exe", out->path, sizeof out->path);
    const auto executable = linked ? proc_text::executableName(out->path) : std::string_view();
    copyText(out->name, sizeof out->name, executable.empty() ? comm : executable);

    // A sandboxed program reads as "/app/…"; its cgroup names the application.
    // Read for those only: the cgroup file costs as much as stat.
    if (linked && std::string_view(out->path).starts_with("/app/")) {
        char cgroupText[2048];
        const auto cgroup = proc_files::readAt(processDir, "cgroup", cgroupText, sizeof cgroupText);
        if (cgroup.ok) copyText(out->flatpakApp, sizeof out->flatpakApp, proc_text::flatpakAppFromCgroup(cgroup.text));
    }

    if (out->uid != ::getuid()) return;
    proc_files::readLinkAt(processDir, "cwd", out->cwd, sizeof out->cwd);
    if (proc_text::nameWantsRole(out->name)) readRole(processDir, out);
}

// "/proc/PID" into `text`; returns its length.
std::size_t processFolder(std::int32_t pid, char (&text)[48])
{
    std::memcpy(text, "/proc/", 6);
    const auto end = std::to_chars(text + 6, text + 32, pid).ptr;
    *end = '\0';
    return static_cast<std::size_t>(end - text);
}

// Every file is read through the one folder handle: it stays bound to this
// process instance, so a pid reused halfway cannot mix two processes.
// A path handle is all the relative reads need, and opens for less.
FileDescriptor openProcessFolder(std::int32_t pid)
{
    char folder[48];
    processFolder(pid, folder);
    return FileDescriptor(::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// pl_read_sample for a process it knows nothing of yet.
std::int32_t readSampleInFull(std::int32_t pid, std::int32_t flags, PLProcessInfo* out)
{
    const auto processDir = openProcessFolder(pid);
    if (processDir.get() < 0) return 0;
    char statText[1024];
    const auto stat = proc_files::readAt(processDir.get(), "stat", statText, sizeof statText);
    const auto fields = stat.ok ? proc_text::parseStat(stat.text) : std::nullopt;
    if (!fields || !isProgram(*fields)) return 0;
    struct stat folder {};
    if (::fstat(processDir.get(), &folder) != 0) return 0;
    fillFromStat(pid, *fields, out);
    out->uid = folder.st_uid;

    if ((flags & PL_SAMPLE_SWAP_IN_USE) != 0) {
        char statusText[8192];
        const auto status = proc_files::readAt(processDir.get(), "status", statusText, sizeof statusText);
        if (status.ok) footprintFromStatus(proc_text::parseStatus(status.text), out);
    } else {
        char statmText[256];
        footprintFromStatm(proc_files::readAt(processDir.get(), "statm", statmText, sizeof statmText), out);
    }
    readIdentity(processDir.get(), fields->comm, out);
    return 1;
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
    const auto processDir = openProcessFolder(pid);
    if (processDir.get() < 0) return 0;

    char statText[1024];
    const auto stat = proc_files::readAt(processDir.get(), "stat", statText, sizeof statText);
    const auto fields = stat.ok ? proc_text::parseStat(stat.text) : std::nullopt;
    if (!fields || !isProgram(*fields)) return 0;

    char statusText[8192];
    const auto status = proc_files::readAt(processDir.get(), "status", statusText, sizeof statusText);
    const auto statusFields = proc_text::parseStatus(status.text);
    // Without its owner a process cannot be judged; treat it as unreadable.
    if (!status.ok || !statusFields.effectiveUid) return 0;

    fillFromStat(pid, *fields, out);
    out->uid = *statusFields.effectiveUid;
    footprintFromStatus(statusFields, out);
    readIdentity(processDir.get(), fields->comm, out);
    return 1;
}

std::int32_t pl_read_sample(std::int32_t pid, const PLKnownProcess* known, std::int32_t flags, PLProcessInfo* out)
{
    if (pid < 1 || out == nullptr) return 0;
    std::memset(out, 0, sizeof *out);
    if (known == nullptr) return readSampleInFull(pid, flags, out);

    // Two files, the folder and the working folder by name, without a folder
    // handle: two system calls fewer. The stat file is read last: a handle of
    // a reaped process reads nothing, and a pid is reused only once its
    // process is reaped, so a successful read proves that all of them named
    // this one process.
    char path[48];
    const auto folderLength = processFolder(pid, path);
    std::memcpy(path + folderLength, "/stat", 6);
    const FileDescriptor statFile(::open(path, O_RDONLY | O_CLOEXEC));
    if (statFile.get() < 0) return 0;
    const bool swapInUse = (flags & PL_SAMPLE_SWAP_IN_USE) != 0;
    std::memcpy(path + folderLength, swapInUse ? "/status" : "/statm", swapInUse ? 8 : 7);
    const FileDescriptor memoryFile(::open(path, O_RDONLY | O_CLOEXEC));
    path[folderLength] = '\0';
    struct stat folder {};
    if (::stat(path, &folder) != 0) return 0;
    // A process can change folder at any time: read it at every sample.
    static const auto user = ::getuid();
    if (folder.st_uid == user) {
        std::memcpy(path + folderLength, "/cwd", 5);
        proc_files::readLinkAt(AT_FDCWD, path, out->cwd, sizeof out->cwd);
    }

    char statText[1024];
    const auto stat = proc_files::readFrom(statFile.get(), statText, sizeof statText);
    const auto fields = stat.ok ? proc_text::parseStat(stat.text) : std::nullopt;
    if (!fields || !isProgram(*fields)) return 0;
    fillFromStat(pid, *fields, out);
    out->uid = folder.st_uid;
    // Another instance at the pid, another program, or another owner (whose
    // working folder and role may no longer be ours to read): read in full.
    const bool same = out->started == known->started && known->image != 0 && out->image == known->image &&
                      out->uid == known->uid;
    if (!same) {
        std::memset(out, 0, sizeof *out);
        return readSampleInFull(pid, flags, out);
    }

    if (memoryFile.get() < 0) return 2;
    if (swapInUse) {
        char statusText[8192];
        const auto status = proc_files::readFrom(memoryFile.get(), statusText, sizeof statusText);
        if (status.ok) footprintFromStatus(proc_text::parseStatus(status.text), out);
    } else {
        char statmText[256];
        footprintFromStatm(proc_files::readFrom(memoryFile.get(), statmText, sizeof statmText), out);
    }
    return 2;
}

std::int32_t pl_available_processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return 1;
}

}  // namespace corvalent
