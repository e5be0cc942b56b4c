#include "models/full_disk_access.h"

#include <algorithm>
#include <condition_variable>
#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "core/common/child_process.h"
#include "core/disk/disk.h"
#include "models/preferences.h"

namespace corvalent {

namespace FullDiskAccessProbe {

namespace {

// By identity, so that an entry such as "$HOME/" or a link to the home
// folder counts as the home folder itself.
bool sameFolder(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return a == b;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool missing(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Calls `visit` with each probe folder in order until it answers true. A
// folder is looked at only once the ones before it have been: one on a
// share that does not answer holds the probe only when nothing before it
// answered.
void visitProbeFolders(const std::function<bool(const std::string&)>& visit)
{
    // The places a scan leaves out unless access is granted.
    const auto places = DiskScanner::privacyProtectedFolders();
    std::vector<std::string> seen;
    const auto& home = places.home.named();
    for (const auto& path : places.desktopFolders) {
        if (std::find(seen.begin(), seen.end(), path) != seen.end()) continue;
        seen.push_back(path);
        if (missing(path) || sameFolder(path, home)) continue;
        if (visit(path)) return;
    }
    visit(home);
}

}  // namespace

std::vector<std::string> probeFolders()
{
    std::vector<std::string> folders;
    visitProbeFolders([&folders](const std::string& path) {
        folders.push_back(path);
        return false;
    });
    return folders;
}

FullDiskAccessStatus currentStatus()
{
    auto answer = FullDiskAccessStatus::unavailable;
    bool opened = false;
    visitProbeFolders([&](const std::string& path) {
        errno = 0;
        if (DIR* directory = ::opendir(path.c_str())) {
            ::closedir(directory);
            opened = true;
            return true;
        }
        if (errno == EPERM || errno == EACCES) answer = FullDiskAccessStatus::denied;
        return false;
    });
    return opened ? FullDiskAccessStatus::granted : answer;
}

int exitStatus(FullDiskAccessStatus status)
{
    switch (status) {
    case FullDiskAccessStatus::granted: return 0;
    case FullDiskAccessStatus::denied: return 2;
    default: return 3;
    }
}

}  // namespace FullDiskAccessProbe

namespace FullDiskAccessVerifier {

namespace {

// The name the program is installed under, as a shell starts it.
constexpr std::string_view installedName = "corvalent";

// The name this program was started by: its argv[0].
std::string startedAs()
{
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string name;
    std::getline(file, name, '\0');
    return name;
}

// The first of `names` a shell would start, as a path; empty when none is
// there. A shell looks, within a bound: a folder in PATH may lie on a share
// that does not answer. Runs a child: never on the GUI thread (debug builds
// stop there).
std::string foundAsAShellFindsIt(const std::vector<std::string>& names)
{
    ChildRunRequest request;
    request.executable = "/bin/sh";
    request.arguments = {"-c", "for name do command -v -- \"$name\" && exit 0; done; exit 1", "sh"};
    for (const auto& name : names)
        if (!name.empty()) request.arguments.push_back(name);
    request.deadline = std::chrono::seconds(2);
    const auto run = runChild(request);
    if (run.exitStatus != 0) return {};
    auto found = run.output.substr(0, run.output.find('\n'));
    if (found.empty()) return {};
    // A name given relative to the working folder, which the program never leaves.
    std::error_code error;
    auto absolute = std::filesystem::absolute(found, error).lexically_normal().string();
    return error ? std::string() : absolute;
}

}  // namespace

std::string programPath()
{
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    // Once an upgrade has replaced the file, the link names the old one as
    // "(deleted)": a new start takes the file now at that place.
    constexpr std::string_view replaced = " (deleted)";
    if (!error && self.ends_with(replaced)) self.resize(self.size() - replaced.size());
    if (!error && ::access(self.c_str(), X_OK) == 0) return self;
    // The upgrade removed it (the new version in a folder of its own, the
    // installed name moved there): the program that the name this one was
    // started by, else the installed name, starts now.
    return foundAsAShellFindsIt({startedAs(), std::string(installedName)});
}

namespace {

FullDiskAccessStatus answer(const ChildRunResult& run)
{
    if (!run.launched || run.timedOut || !run.exitStatus) return FullDiskAccessStatus::unavailable;
    switch (*run.exitStatus) {
    case 0: return FullDiskAccessStatus::granted;
    case 2: return FullDiskAccessStatus::denied;
    default: return FullDiskAccessStatus::unavailable;
    }
}

ChildRunResult runCheck(std::chrono::milliseconds limit, std::string program, std::function<void()> reapedLater)
{
    ChildRunRequest request;
    request.executable = std::move(program);
    request.arguments = {"--full-disk-access-check"};
    request.captureOutput = false;
    request.deadline = limit;
    request.reapedLater = std::move(reapedLater);
    return runChild(request);
}

}  // namespace

FullDiskAccessStatus checkInFreshProcess(std::chrono::milliseconds limit, std::string program)
{
    if (program.empty()) return FullDiskAccessStatus::unavailable;
    return answer(runCheck(limit, std::move(program), {}));
}

std::function<FullDiskAccessStatus()> repeatedCheck(std::chrono::milliseconds limit, std::string program)
{
    // One process at a time: `asking` while a run is on, `caught` counts the
    // processes that outlived their run and are not reaped yet. The reaper
    // may count one off before its run has counted it on: never below zero
    // for long.
    struct Checks {
        std::mutex mutex;
        std::condition_variable done;
        bool asking = false;
        int caught = 0;
    };
    auto checks = std::make_shared<Checks>();
    return [limit, program = std::move(program), checks] {
        {
            std::unique_lock lock(checks->mutex);
            // A check asked meanwhile ends within its own limit.
            checks->done.wait_for(lock, limit, [&] { return !checks->asking; });
            if (program.empty() || checks->asking || checks->caught > 0) return FullDiskAccessStatus::unavailable;
            checks->asking = true;
        }
        const auto run = runCheck(limit, program, [checks] {
            const std::lock_guard lock(checks->mutex);
            --checks->caught;
        });
        {
            const std::lock_guard lock(checks->mutex);
            checks->asking = false;
            if (run.outlived) ++checks->caught;
        }
        checks->done.notify_all();
        return answer(run);
    };
}

}  // namespace FullDiskAccessVerifier

namespace DiskAccessPreference {

QString currentSigningIdentity()
{
    return QStringLiteral("Corvalent-unsigned-v1");
}

void migrateSigningIdentityIfNeeded(Preferences& preferences)
{
    if (preferences.fullDiskAccessSigningIdentity() == currentSigningIdentity()) return;
    preferences.setIncludePrivacyProtectedLocations(false);
    preferences.setHasSeenFullDiskAccessIntroduction(false);
    preferences.setFullDiskAccessSigningIdentity(currentSigningIdentity());
}

}  // namespace DiskAccessPreference
}  // namespace corvalent
