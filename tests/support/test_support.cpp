#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <spawn.h>
#include <stdexcept>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace corvalent::testing {
namespace fs = std::filesystem;

TempDir::TempDir(const fs::path& parent)
{
    std::string pattern = (parent / "corvalent-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temp folder under " + parent.string());
    path_ = pattern;
}

TempDir::~TempDir()
{
    // Tests take permissions away to make folders unreadable: give them back
    // so that everything can be removed.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

ScopedVariable::ScopedVariable(const char* name, const std::string& value) : name_(name)
{
    if (const char* now = std::getenv(name)) saved_ = now;
    ::setenv(name, value.c_str(), 1);
}

ScopedVariable::~ScopedVariable()
{
    saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_);
}

namespace {

// Where a TempHome's folders really are: in its root, or below the folder its link names.
fs::path homeHolder(const TempDir& root, TempHome::Reached reached)
{
    const auto base = fs::canonical(root.path());
    if (reached == TempHome::Reached::directly) return base;
    fs::create_directory(base / "real");
    fs::create_directory_symlink(base / "real", base / "link");
    return base / "real";
}

// How HOME or XDG_DATA_HOME names a TempHome's folder.
std::string spelled(const fs::path& folder, TempHome::Reached reached)
{
    if (reached == TempHome::Reached::directly) return folder.string();
    return (folder.parent_path().parent_path() / "link" / folder.filename()).string();
}

}  // namespace

TempHome::TempHome(const fs::path& parent, Reached reached)
    : root(parent),
      home(homeHolder(root, reached) / "home"),
      data(home.parent_path() / "data"),
      homeVariable("HOME", spelled(home, reached)),
      dataVariable("XDG_DATA_HOME", spelled(data, reached))
{
    fs::create_directories(home);
}

fs::path accountHome()
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> strings(16'384);
    if (::getpwuid_r(::getuid(), &entry, strings.data(), strings.size(), &found) != 0 || found == nullptr)
        throw std::runtime_error("no account entry for this user");
    return found->pw_dir;
}

TempDir tempDirUnderHome()
{
    return TempDir(accountHome());
}

bool setAsideAccountHome()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0) return false;
    // Private first: the tmpfs must not show in the machine's own namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    const auto home = accountHome();
    return ::mount("corvalent-test-home", home.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") == 0;
}

void writeFile(const fs::path& path, std::size_t bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

fs::path writeScript(const fs::path& folder, const std::string& name, const std::string& body)
{
    const auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

std::uint64_t allocatedBytes(const fs::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return static_cast<std::uint64_t>(info.st_blocks) * 512;
}

namespace {

struct stat described(const fs::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return info;
}

bool later(const timespec& a, const timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

void awaitClockPastChangeOf(const fs::path& path)
{
    const auto changed = described(path).st_ctim;
    for (timespec now{}; ::clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 && !later(now, changed);)
        std::this_thread::yield();
}

void editInPlaceKeepingTime(const fs::path& file)
{
    awaitClockPastChangeOf(file);
    const auto before = described(file);
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file.string());
    char byte = 0;
    bool edited = ::pread(fd, &byte, 1, 0) == 1;
    byte = static_cast<char>(byte ^ 0x5a);
    edited = edited && ::pwrite(fd, &byte, 1, 0) == 1;
    ::close(fd);
    const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    if (!edited || ::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot edit " + file.string());
    const auto after = described(file);
    if (after.st_ino != before.st_ino || after.st_size != before.st_size || after.st_blocks != before.st_blocks ||
        after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
        !later(after.st_ctim, before.st_ctim))
        throw std::runtime_error(file.string() + " changed in more than its contents and change time");
}

fs::path copyExecutable(const fs::path& from, const fs::path& folder, const std::string& name)
{
    const auto target = folder / name;
    fs::copy_file(from, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    return target;
}

std::string commandOutput(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    if (pipe == nullptr) return {};
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << ": " << status << "\n" << output;
    return output;
}

fs::path idleChildProgram()
{
    return CORVALENT_IDLE_CHILD;
}

void makeChain(const fs::path& root, int depth)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "end", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "deep", 4), 4);
    ::close(file);
    ::close(fd);
}

void removeChain(const fs::path& root, int depth)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) return;
    ::unlinkat(fd, "end", 0);
    for (int i = 0; i < depth; ++i) {
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = up;
        ::unlinkat(fd, "d", AT_REMOVEDIR);
    }
    ::close(fd);
}

fs::path walkProbeProgram()
{
    return CORVALENT_WALK_PROBE;
}

ChildProcess::ChildProcess(const fs::path& executable, const std::vector<std::string>& arguments,
                           const fs::path& workingFolder)
{
    std::vector<std::string> argv{executable.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Signals arrive as at a terminal, whatever the test runner blocks, and
    // the two that nohup and background shells ignore are not ignored. An
    // ignored SIGTERM goes through: tests ignore it for a child that must.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, terminal;
    sigemptyset(&none);
    sigemptyset(&terminal);
    for (const int signal : {SIGINT, SIGHUP}) sigaddset(&terminal, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &terminal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    spawnedAt_ = std::chrono::system_clock::now();
    const int error = ::posix_spawn(&pid_, executable.c_str(), &actions, &attributes, pointers.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + executable.string());
    waitUntilStarted();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ChildProcess::waitUntilStarted()
{
    // posix_spawn returns while exec is still laying out the new program's
    // arguments; until they are in place /proc/PID/cmdline reads empty.
    const auto cmdline = "/proc/" + std::to_string(pid_) + "/cmdline";
    eventually([&] {
        std::ifstream file(cmdline, std::ios::binary);
        return file.get() != std::ifstream::traits_type::eof() || !running();
    });
}

ChildProcess::~ChildProcess()
{
    if (reaped_ || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait();
}

int ChildProcess::wait()
{
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

bool ChildProcess::waitUntilZombie(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool ChildProcess::waitUntilCatching(int signal, std::chrono::milliseconds timeout)
{
    const auto status = "/proc/" + std::to_string(pid_) + "/status";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        std::ifstream file(status);
        for (std::string line; std::getline(file, line);) {
            if (!line.starts_with("SigCgt:")) continue;
            const auto caught = std::stoull(line.substr(7), nullptr, 16);
            if ((caught >> (signal - 1)) & 1U) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool ChildProcess::running()
{
    if (reaped_) return false;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

}  // namespace corvalent::testing
