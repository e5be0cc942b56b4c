#pragma once

// The thin layer over the kernel's process interfaces. Plain functions that
// fill fixed-size, zero-initialised records and return small integer codes;
// everything above reads and signals processes only through them.

#include <cstdint>

namespace corvalent {

// One process as the kernel describes it. The caller owns it; pl_read
// zero-fills all of it before writing. Text fields are NUL-terminated byte
// strings exactly as the kernel gives them (copies into them truncate).
struct PLProcessInfo {
    std::int32_t pid;
    std::int32_t parent;
    std::uint32_t uid;        // effective user id
    std::uint64_t started;    // microseconds since 1970
    std::uint64_t cpuTime;    // user + system time, nanoseconds; 0 when not read
    std::uint64_t footprint;  // anonymous resident + swapped bytes; 0 when not read
    std::int32_t hasMemory;   // 1 when cpuTime and footprint are valid
    char name[64];
    char path[4096];          // executable path; empty when unknown
    char cwd[4096];           // working directory; only for the caller's own processes
    char role[64];            // development role found in the arguments; usually empty
    char flatpakApp[256];     // application id of a Flatpak sandbox ("/app/…" executables only)
    std::uint64_t image;      // changes when the process runs another program or renames itself
};

// What a sampler read of a process before (a pid's previous record).
struct PLKnownProcess {
    std::uint64_t started;
    std::uint64_t image;
    std::uint32_t uid;
};

// pl_read_sample flag: swap is in use (or unknown), so memory needs VmSwap.
inline constexpr std::int32_t PL_SAMPLE_SWAP_IN_USE = 1;

// Writes the ids of all processes (thread-group leaders) into `pids` and
// returns how many were written; 0 for a null buffer or a capacity outside
// 1...0x1fffffff; a negative errno when the process table cannot be listed.
std::int32_t pl_list(std::int32_t* pids, std::int32_t capacity);

// Fills `out` for one process: 1 when filled (possibly in part), 0 when the
// process cannot be read at all. Zombies and kernel threads read as gone.
std::int32_t pl_read(std::int32_t pid, PLProcessInfo* out);

// The sampler's read: the same record for less, reading only what a sample
// needs. The owner is the /proc/PID folder's owner (the effective uid, even
// for a process that is not dumpable; the files inside then turn root's);
// without PL_SAMPLE_SWAP_IN_USE no process has swapped memory, and the
// footprint comes from statm. When `known` is this very process (same start
// time, image and owner; an image of 0 never matches), the texts read once
// per program it runs (name, path, role, flatpakApp) are not read again and
// stay empty: returns 2, and the caller keeps what it read before. `cwd` is
// read at every sample for the caller's own processes, so a folder change
// shows at once. Otherwise returns 1 or 0 as pl_read does.
std::int32_t pl_read_sample(std::int32_t pid, const PLKnownProcess* known, std::int32_t flags, PLProcessInfo* out);

// Why a process may never be stopped, as the raw value of ProcessProtection:
// 0 stoppable, 1 system identity, 2 this program, 3 another user, 4 unknown
// identity, 5 critical service, 6 security software, 7 unapproved location.
std::int32_t pl_protection_reason(std::int32_t pid, std::uint32_t uid, const char* path, const char* name);

// The account's home folder from the account database, kept once found;
// empty while the lookup fails (it is tried again at the next call).
const char* pl_account_home();

// Sends SIGTERM (force 0) or SIGKILL (force 1) after re-reading the process
// and proving it is still the one the caller saw (start time and executable
// path) and still stoppable. Returns 0 when sent, EINVAL for a bad force,
// ESRCH when the process is gone, ESTALE when the pid now names another
// process, EPERM when it is protected, or the errno of the send.
std::int32_t pl_signal(std::int32_t pid, std::uint64_t started, const char* path, std::int32_t force);

// How many processors this process may run on; at least 1.
std::int32_t pl_available_processors();

// Memory pressure: 1 normal, 2 elevated, 4 critical; 0 when unreadable.
std::int32_t pl_memory_pressure();

// Swap in use in bytes: 0 without swap, -1 when unreadable.
std::int64_t pl_swap_used();

}  // namespace corvalent
