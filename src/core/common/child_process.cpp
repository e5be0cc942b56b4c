#include "core/common/child_process.h"

#include "bridge/file_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <functional>
#include <system_error>
#include <thread>

#include <QCoreApplication>
#include <QThread>

// glibc 2.36 declares the pidfd functions without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace corvalent {
namespace {

using Clock = std::chrono::steady_clock;

// How long a killed child may take to be gone before the caller stops waiting.
constexpr std::chrono::milliseconds killedChildLeeway{250};

class SpawnSetup {
public:
    SpawnSetup()
    {
        actionsReady_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        attributesReady_ = ::posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup()
    {
        if (actionsReady_) ::posix_spawn_file_actions_destroy(&actions_);
        if (attributesReady_) ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // stdout first: when the caller runs with 0 or 2 closed, the pipe may sit
    // there, and opening /dev/null over it must come after it was copied.
    bool prepare(int outputFd)
    {
        if (!actionsReady_ || !attributesReady_) return false;
        const int redirected =
            outputFd >= 0 ? ::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO)
                          : ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (redirected != 0) return false;
        if (::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
            ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0)
            return false;

        // A pool thread may run with signals blocked, and a blocked or ignored
        // SIGTERM would turn every graceful stop into a SIGKILL.
        sigset_t none;
        sigset_t terminate;
        sigemptyset(&none);
        sigemptyset(&terminate);
        sigaddset(&terminate, SIGTERM);
        return ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&attributes_, &terminate) == 0 &&
               ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actionsReady_ = false;
    bool attributesReady_ = false;
};

int pollTimeout(Clock::time_point now, Clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// A child that outlives SIGKILL (frozen, stuck in the kernel, or a zombie its
// tracer holds) gets a thread of its own that waits for it, so that it is
// still reaped once it lets go while the caller has long moved on.
void reapInBackground(pid_t pid, std::function<void()> reaped)
{
    try {
        std::thread([pid, reaped = std::move(reaped)] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (reaped) reaped();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: it stays a zombie until the program ends.
    }
}

// The started child until it is reaped or handed on. Signals go through a
// pidfd when the kernel offers one, so that they can never reach a process
// that reused the pid.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid), handle_(::pidfd_open(pid, 0)) {}
    // Early only when something threw: never leave a child behind.
    ~Child() { finish(Clock::now() + killedChildLeeway, {}); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool reaped() const { return reaped_; }
    const std::optional<int>& exitStatus() const { return exitStatus_; }
    // Readable once the child has exited; -1 without pidfd support, and once
    // readable yet not reapable (a tracer holds the zombie), which would
    // otherwise wake every poll at once.
    int exitHandle() const { return released_ || exitHeld_ ? -1 : handle_.get(); }

    void signal(int number)
    {
        if (released_) return;
        if (handle_.valid())
            ::pidfd_send_signal(handle_.get(), number, nullptr, 0);
        else
            ::kill(pid_, number);
    }

    // True once the child has been reaped; never blocks.
    bool reap()
    {
        while (!released_) {
            int status = 0;
            const pid_t answer = ::waitpid(pid_, &status, WNOHANG);
            if (answer == pid_) {
                if (WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
            } else if (answer < 0 && errno == EINTR) {
                continue;
            } else if (answer == 0) {
                break;
            }
            // Reaped, or ECHILD: SIGCHLD is ignored and the kernel reaped it.
            reaped_ = released_ = true;
            handle_.reset();
        }
        return reaped_;
    }

    // After poll reported the exit handle readable.
    void exitReported()
    {
        if (!reap()) exitHeld_ = true;
    }

    // Kills the child unless it is gone and waits for it until `until`; a
    // child still there then is reaped in the background, and `reapedLater`
    // called once it is. True when reaped here.
    bool finish(Clock::time_point until, const std::function<void()>& reapedLater)
    {
        if (released_ || reap()) return reaped_;
        signal(SIGKILL);
        while (!reap()) {
            const auto now = Clock::now();
            if (now >= until) {
                reapInBackground(pid_, reapedLater);
                released_ = true;  // the pid is no longer ours to signal or wait for
                handle_.reset();
                return false;
            }
            // Without an exit handle to watch, poll merely sleeps.
            pollfd exit{exitHandle(), POLLIN, 0};
            if (::poll(&exit, 1, std::min(pollTimeout(now, until), 10)) > 0) exitReported();
        }
        return true;
    }

private:
    pid_t pid_;
    FileDescriptor handle_;
    bool reaped_ = false;
    bool released_ = false;  // reaped, or handed to a background reaper
    bool exitHeld_ = false;
    std::optional<int> exitStatus_;
};

}  // namespace

ChildRunResult runChild(const ChildRunRequest& request)
{
#ifndef NDEBUG
    // Waiting for a child freezes every window for as long as it runs: tools
    // belong on worker threads. Caught in debug builds, where the tests run.
    if (const auto* application = QCoreApplication::instance();
        application != nullptr && application->thread() == QThread::currentThread())
        qFatal("A child process (%s) was about to run on the GUI thread", request.executable.c_str());
#endif
    ChildRunResult result;
    if (request.executable.empty()) return result;

    FileDescriptor readEnd;
    FileDescriptor writeEnd;
    if (request.captureOutput) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return result;
        readEnd.reset(ends[0]);
        writeEnd.reset(ends[1]);
        // Only our end: the child's writes stay blocking.
        const int flags = ::fcntl(readEnd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(readEnd.get(), F_SETFL, flags | O_NONBLOCK) != 0) return result;
    }

    SpawnSetup setup;
    if (!setup.prepare(writeEnd.get())) return result;

    std::vector<std::string> words{request.executable};
    words.insert(words.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const auto started = Clock::now();
    if (::posix_spawn(&pid, request.executable.c_str(), setup.actions(), setup.attributes(), argv.data(), environ) != 0)
        return result;
    result.launched = true;
    // Holding our copy of the write end would keep EOF from ever arriving.
    writeEnd.reset();

    Child child(pid);
    const auto deadline = started + request.deadline;
    std::optional<Clock::time_point> killAt;
    const auto terminate = [&](Clock::time_point now) {
        child.signal(SIGTERM);
        killAt = now + request.killGrace;
    };
    std::array<char, 16'384> buffer;

    for (;;) {
        if (child.reap() && !readEnd.valid()) break;
        const auto now = Clock::now();
        if (!killAt && now >= deadline) {
            result.timedOut = true;
            terminate(now);
        }
        if (!killAt && request.stop.stop_requested()) {
            result.stopped = true;
            terminate(now);
        }
        // Whatever still holds the pipe (a descendant, say) is not ours to wait for.
        if (killAt && now >= *killAt) break;

        // A negative descriptor is skipped by poll.
        std::array<pollfd, 2> watched{pollfd{readEnd.get(), POLLIN, 0}, pollfd{child.exitHandle(), POLLIN, 0}};
        int timeout = pollTimeout(now, killAt.value_or(deadline));
        // A stop is only seen between polls: look again soon while one may come.
        if (!killAt && request.stop.stop_possible()) timeout = std::min(timeout, 10);
        // Without a pidfd nothing wakes us when the child exits: look again soon.
        if (!child.reaped() && child.exitHandle() < 0) timeout = std::min(timeout, 10);
        if (::poll(watched.data(), watched.size(), timeout) < 0) {
            // Not expected (EINTR aside): wait a little without spinning, the deadline still holds.
            if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout, 10)));
            continue;
        }
        if (watched[1].revents != 0) child.exitReported();
        if (watched[0].revents == 0) continue;

        const ssize_t got = ::read(readEnd.get(), buffer.data(), buffer.size());
        if (got > 0) {
            const auto size = static_cast<std::size_t>(got);
            if (!result.overflowed) {
                const std::size_t room = request.outputCap - result.output.size();
                result.output.append(buffer.data(), std::min(size, room));
                if (size > room) {
                    result.overflowed = true;
                    // Keep draining meanwhile so that a child blocked on a full pipe can act on SIGTERM.
                    if (!killAt) terminate(Clock::now());
                }
            }
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            readEnd.reset();
        }
    }

    readEnd.reset();
    // A child that even SIGKILL does not end in time is not waited for here.
    if (!child.finish(Clock::now() + killedChildLeeway, request.reapedLater)) result.timedOut = result.outlived = true;
    result.exitStatus = child.exitStatus();
    return result;
}

}  // namespace corvalent
