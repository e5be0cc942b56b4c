#pragma once

// Shared by every test executable: real child processes and real folders.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvalent::testing {

// Polls `condition` on state outside this process (a child, /proc, the
// file system) until it holds; false after `timeout`.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    // Under `parent` (default: the system's temp folder).
    explicit TempDir(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// An environment variable pointed elsewhere until the end of the scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// A home folder and a Trash of the test's own, on the temp folder's file
// system: HOME names `home`, XDG_DATA_HOME names `data`, either as they are
// or, as where /home is a link to /var/home, through a symbolic link to the
// folder that holds them (`home` and `data` are always where they really
// are). Work that may still read them must have ended before this goes.
struct TempHome {
    enum class Reached { directly, throughLink };

    TempDir root;
    std::filesystem::path home;
    std::filesystem::path data;
    ScopedVariable homeVariable;
    ScopedVariable dataVariable;

    explicit TempHome(const std::filesystem::path& parent = std::filesystem::temp_directory_path(),
                      Reached reached = Reached::directly);
    explicit TempHome(Reached reached) : TempHome(std::filesystem::temp_directory_path(), reached) {}
    std::filesystem::path trash() const { return data / "Trash"; }
};

// The account's home folder from the account database (what protection
// rules compare with), not $HOME.
std::filesystem::path accountHome();

// A temp folder inside the account's home folder.
TempDir tempDirUnderHome();

// Puts an empty, private home over the account's own for the rest of this
// process and the programs it starts, so that no test writes into the real
// one: a mount namespace of the process's own with a tmpfs on the home.
// Called first thing in every test program's main, while it has one thread.
// Needs root; elsewhere the home stays as it is, and false says so.
bool setAsideAccountHome();

// Writes `bytes` bytes of text to `path`, making its folders first.
void writeFile(const std::filesystem::path& path, std::size_t bytes);

// Writes an executable shell script `folder/name` whose body follows "#!/bin/sh".
std::filesystem::path writeScript(const std::filesystem::path& folder, const std::string& name,
                                  const std::string& body);

// The bytes a file takes on the disk (st_blocks × 512), not following links.
std::uint64_t allocatedBytes(const std::filesystem::path& path);

// Waits until the clock the kernel stamps file times with has passed the
// change time of `path`: a change made after it gives the file a later one,
// also where the kernel stamps times in coarse steps.
void awaitClockPastChangeOf(const std::filesystem::path& path);

// Writes over a byte of `file` in place and puts its modification time back,
// as an edit followed by `touch -r` leaves it: same inode, size, blocks and
// modification time, a later change time only. Throws when that is not so.
void editInPlaceKeepingTime(const std::filesystem::path& file);

// Copies an executable file to `folder/name`, keeping it executable.
std::filesystem::path copyExecutable(const std::filesystem::path& from, const std::filesystem::path& folder,
                                     const std::string& name);

// A chain of `depth` folders named "d" below `root`, made relative to each
// parent so that no path limit applies, with one file "end" at its end.
void makeChain(const std::filesystem::path& root, int depth);

// Removes what makeChain made, from the bottom up.
void removeChain(const std::filesystem::path& root, int depth);

// The helper program that idles until a signal ends it, whatever its
// arguments, after an optional leading mode (see idle_child.cpp).
std::filesystem::path idleChildProgram();

// What the shell command `command` prints on its standard output; the test
// fails unless it ends with status 0.
std::string commandOutput(const std::string& command);

// The helper program that walks the folder it is given and prints
// "<entries> <inaccessible> <digest>" (see walk_probe.cpp).
std::filesystem::path walkProbeProgram();

// A child process started from a given executable in a given folder. It is
// always reaped: killed and waited for when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workingFolder);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Wall-clock time just before the child was started.
    std::chrono::system_clock::time_point spawnedAt() const { return spawnedAt_; }

    // Waits for the child to end and reaps it; returns the waitpid status.
    int wait();
    // The waitpid status when the child ends within `timeout`.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    // Waits until the child has exited but leaves it unreaped (a zombie).
    bool waitUntilZombie(std::chrono::milliseconds timeout);
    // True while the child has not exited.
    bool running();
    // Waits until the child has installed a handler for `signal`.
    bool waitUntilCatching(int signal, std::chrono::milliseconds timeout);

private:
    void waitUntilStarted();

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::chrono::system_clock::time_point spawnedAt_;
};

}  // namespace corvalent::testing
