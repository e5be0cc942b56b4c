#include "slow_mount.h"

#include "test_support.h"

#include "bridge/mount_table.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace corvalent::testing {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFusermount = "/usr/bin/fusermount3";

pid_t spawn(const std::vector<std::string>& arguments, const fs::path& output)
{
    std::vector<std::string> argv = arguments;
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv.front().c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// True once `pid` has ended (and is reaped) within `timeout`.
bool reapWithin(pid_t pid, std::chrono::milliseconds timeout)
{
    return eventually(
        [&] {
            int status = 0;
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            return done == pid || (done < 0 && errno == ECHILD);
        },
        timeout);
}

std::string readAll(const fs::path& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool isMountPoint(const fs::path& path)
{
    // The mount table rather than stat: the mount's root may be the entry whose stat sleeps.
    const auto table = parseMountInfo(readAll("/proc/self/mountinfo"));
    const auto* holding = mountHolding(table, path.string());
    return holding != nullptr && holding->mountPoint == path.string();
}

}  // namespace

SlowMount::SlowMount(const fs::path& mountPoint, const SlowTree& tree)
{
    const std::string server = CORVALENT_SLOW_FS;
    if (server.empty()) {
        problem_ = "FUSE tests skipped: corvalent_slow_fs was not built (libfuse3-dev missing)";
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        problem_ = "FUSE tests skipped: /dev/fuse is missing or not usable here";
        return;
    }
    if (::access(kFusermount, X_OK) != 0) {
        problem_ = "FUSE tests skipped: fusermount3 is missing (Debian package fuse3)";
        return;
    }
    std::error_code error;
    fs::create_directories(mountPoint, error);
    mountPoint_ = fs::canonical(mountPoint, error);
    if (error) {
        problem_ = "FUSE tests skipped: no mount point at " + mountPoint.string() + ": " + error.message();
        return;
    }
    char pattern[] = "/tmp/corvalent-slow-fs-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        problem_ = "FUSE tests skipped: no temp folder for the server's log";
        return;
    }
    logFolder_ = pattern;

    std::vector<std::string> arguments{server, mountPoint_.string(), "--delay-ms", std::to_string(tree.delay.count()),
                                       "--log", (logFolder_ / "calls").string()};
    const auto add = [&](const char* option, const std::vector<std::string>& values) {
        for (const auto& value : values) arguments.insert(arguments.end(), {option, value});
    };
    add("--folder", tree.folders);
    for (const auto& [path, bytes] : tree.files) arguments.insert(arguments.end(), {"--file", path + "=" + std::to_string(bytes)});
    add("--slow-list", tree.slowList);
    add("--slow-stat", tree.slowStat);
    add("--slow-read", tree.slowRead);
    add("--slow-statfs", tree.slowStatfs);
    add("--gone-at-open", tree.goneAtOpen);
    if (tree.neverAnswers) arguments.emplace_back("--never-answer");
    if (!tree.source.empty()) arguments.insert(arguments.end(), {"--source", tree.source});

    server_ = spawn(arguments, logFolder_ / "output");
    if (server_ < 0) {
        problem_ = "FUSE tests skipped: cannot start " + server;
        return;
    }
    bool ended = false;
    mounted_ = eventually(
        [&] {
            int status = 0;
            ended = ::waitpid(server_, &status, WNOHANG) == server_;
            return ended || isMountPoint(mountPoint_);
        },
        std::chrono::seconds(10)) && !ended;
    if (ended) server_ = -1;
    if (!mounted_) {
        problem_ = "FUSE tests skipped: mounting failed: " + readAll(logFolder_ / "output");
        unmount();
    }
}

SlowMount::~SlowMount()
{
    unmount();
    if (!logFolder_.empty()) {
        std::error_code error;
        fs::remove_all(logFolder_, error);
    }
}

void SlowMount::unmount()
{
    if (mounted_) {
        // Detach only: a busy mount (a call still sleeping) cannot be unmounted
        // otherwise, and the mount's root is never looked at.
        if (::geteuid() == 0) {
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
        } else if (const pid_t fusermount = spawn({kFusermount, "-u", "-z", "-q", mountPoint_.string()}, logFolder_ / "output");
                   fusermount > 0 && !reapWithin(fusermount, std::chrono::seconds(5))) {
            ::kill(fusermount, SIGKILL);
            reapWithin(fusermount, std::chrono::seconds(5));
        }
        mounted_ = false;
    }
    if (server_ > 0) {
        // Asked to end, the server fails its sleeping calls at once; killed, it
        // takes the connection with it, which fails them too.
        ::kill(server_, SIGTERM);
        if (!reapWithin(server_, std::chrono::seconds(3))) {
            ::kill(server_, SIGKILL);
            reapWithin(server_, std::chrono::seconds(10));
        }
        server_ = -1;
    }
}

namespace {

// The parent of a live process; nothing once it has gone.
std::optional<pid_t> parentOf(const std::string& process)
{
    std::ifstream file("/proc/" + process + "/stat");
    std::string text;
    std::getline(file, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    if (!(rest >> state >> parent)) return std::nullopt;
    return parent;
}

// Lines "WHAT KIND PATH PROCESS" of the server's log starting with `start`,
// only those whose PROCESS `byCaller` accepts when it is given.
std::size_t linesStartingWith(const fs::path& log, std::string_view start,
                              const std::function<bool(const std::string&)>& byCaller = {})
{
    std::ifstream file(log);
    std::size_t count = 0;
    for (std::string line; std::getline(file, line);) {
        if (!line.starts_with(start)) continue;
        if (!byCaller || byCaller(line.substr(line.rfind(' ') + 1))) ++count;
    }
    return count;
}

}  // namespace

std::size_t SlowMount::slowCallsBegun() const
{
    return linesStartingWith(logFolder_ / "calls", "begin ");
}

std::size_t SlowMount::slowCallsBegunBy(pid_t caller) const
{
    return linesStartingWith(logFolder_ / "calls", "begin ",
                             [&](const std::string& process) { return process == std::to_string(caller); });
}

std::size_t SlowMount::slowCallsBegunByChildrenOf(pid_t parent) const
{
    return linesStartingWith(logFolder_ / "calls", "begin ",
                             [&](const std::string& process) { return parentOf(process) == parent; });
}

std::size_t SlowMount::slowCallsEnded() const
{
    return linesStartingWith(logFolder_ / "calls", "end ");
}

bool SlowMount::waitForSlowCalls(std::size_t count, std::chrono::milliseconds timeout) const
{
    return eventually([&] { return slowCallsBegun() >= count; }, timeout);
}

}  // namespace corvalent::testing
