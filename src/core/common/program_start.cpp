#include "core/common/program_start.h"

#include "bridge/file_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>

// glibc 2.36 declares the pidfd functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace corvalent {
namespace {

using Clock = std::chrono::steady_clock;

// The exit statuses of the go-between.
constexpr int spawned = 0;
constexpr int missing = 127;
constexpr int unspawned = 126;

// What posix_spawnp needs, made before the fork: the go-between only calls it.
class Spawn {
public:
    Spawn()
    {
        ready_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        if (::posix_spawnattr_init(&attributes_) != 0) {
            if (ready_) ::posix_spawn_file_actions_destroy(&actions_);
            ready_ = false;
            return;
        }
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        ready_ = ready_ && ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
                 ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
                 ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
                 ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
                 ::posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
                 ::posix_spawnattr_setflags(&attributes_,
                                            POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID) == 0;
    }
    ~Spawn()
    {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    Spawn(const Spawn&) = delete;
    Spawn& operator=(const Spawn&) = delete;

    bool ready() const { return ready_; }
    // In the go-between: posix_spawnp looks the name up in the process it
    // makes, and returns once that one has started the program or given up.
    [[noreturn]] void runAndExit(char* const* argv) const
    {
        closeInherited();
        pid_t pid = -1;
        const int error = ::posix_spawnp(&pid, argv[0], &actions_, &attributes_, argv, environ);
        ::_exit(error == 0 ? spawned : error == ENOENT || error == EACCES || error == ENOEXEC ? missing : unspawned);
    }

private:
    // A lookup caught on a share keeps, until the share answers, every
    // descriptor it was given, close-on-exec or not (no exec has happened):
    // the window's display connection, the instance lock, the write ends of
    // pipes others wait on. It is given none.
    static void closeInherited()
    {
        if (::close_range(STDERR_FILENO + 1, ~0U, 0) == 0) return;
        const long last = ::sysconf(_SC_OPEN_MAX);
        for (long fd = STDERR_FILENO + 1; fd < std::min(last < 0 ? 1024L : last, 1L << 20); ++fd)
            ::close(static_cast<int>(fd));
    }

    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool ready_ = false;
};

int pollTimeout(Clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 10'000));
}

// Reaps the go-between when it is gone before `until`; its exit status, or -1.
int reapBy(pid_t pid, int exited, Clock::time_point until)
{
    for (;;) {
        int status = 0;
        const pid_t answer = ::waitpid(pid, &status, WNOHANG);
        if (answer == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (answer < 0 && errno != EINTR) return -1;  // reaped already (SIGCHLD ignored)
        if (answer < 0) continue;
        if (Clock::now() >= until) return -2;
        // Without a pidfd nothing wakes us when it exits: look again soon.
        pollfd exit{exited, POLLIN, 0};
        ::poll(&exit, 1, exited < 0 ? std::min(pollTimeout(until), 10) : pollTimeout(until));
    }
}

}  // namespace

ProgramStart startProgram(const std::vector<std::string>& command, std::chrono::milliseconds limit)
{
    if (command.empty() || command.front().empty()) return ProgramStart::notFound;
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const Spawn spawn;
    if (!spawn.ready()) return ProgramStart::failed;

    // A go-between of our own starts the program and ends at once, so the
    // program is the init process's to reap, and a lookup caught on a share
    // holds the go-between only, which SIGKILL still ends (it waits on its
    // vfork child, not on the share).
    const auto until = Clock::now() + limit;
    const pid_t pid = ::fork();
    if (pid < 0) return ProgramStart::failed;
    if (pid == 0) spawn.runAndExit(argv.data());

    const FileDescriptor exited(::pidfd_open(pid, 0));
    int status = reapBy(pid, exited.get(), until);
    if (status == -2) {
        if (exited.valid())
            ::pidfd_send_signal(exited.get(), SIGKILL, nullptr, 0);
        else
            ::kill(pid, SIGKILL);
        if (reapBy(pid, exited.get(), Clock::now() + std::chrono::milliseconds(500)) == -2) {
            // Not gone yet after SIGKILL: reaped by a thread of its own once it is.
            try {
                std::thread([pid] {
                    int ignored = 0;
                    while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
                    }
                }).detach();
            } catch (const std::system_error&) {
            }
        }
        return ProgramStart::noAnswer;
    }
    switch (status) {
    case spawned: return ProgramStart::started;
    case missing: return ProgramStart::notFound;
    default: return ProgramStart::failed;
    }
}

}  // namespace corvalent
