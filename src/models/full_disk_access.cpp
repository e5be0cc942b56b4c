#include "models/full_disk_access.h"

#include <array>
#include <cerrno>
#include <dirent.h>
#include <filesystem>

#include "core/child_process.h"
#include "core/disk_insights.h"

namespace corvalent {

namespace FullDiskAccessProbe {

FullDiskAccessStatus currentStatus()
{
    const auto home = DiskInsights::homeFolder();
    auto answer = FullDiskAccessStatus::unavailable;
    for (const char* folder : {"Desktop", "Documents", "Downloads"}) {
        const auto path = home + "/" + folder;
        errno = 0;
        if (DIR* directory = ::opendir(path.c_str())) {
            ::closedir(directory);
            return FullDiskAccessStatus::granted;
        }
        if (errno == EPERM || errno == EACCES) answer = FullDiskAccessStatus::denied;
    }
    return answer;
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

FullDiskAccessStatus checkInFreshProcess(std::chrono::milliseconds limit)
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return FullDiskAccessStatus::unavailable;
    ChildRunRequest request;
    request.executable = self.string();
    request.arguments = {"--full-disk-access-check"};
    request.captureOutput = false;
    request.deadline = limit;
    const auto run = runChild(request);
    if (!run.launched || run.timedOut || !run.exitStatus) return FullDiskAccessStatus::unavailable;
    switch (*run.exitStatus) {
    case 0: return FullDiskAccessStatus::granted;
    case 2: return FullDiskAccessStatus::denied;
    default: return FullDiskAccessStatus::unavailable;
    }
}

}  // namespace FullDiskAccessVerifier

namespace DiskAccessPreference {

QString currentSigningIdentity()
{
    return QStringLiteral("Corvalent-unsigned-v1");
}

void migrateSigningIdentityIfNeeded(QSettings& settings)
{
    const auto stored = settings.value("fullDiskAccessSigningIdentity");
    if (stored.isValid() && stored.toString() == currentSigningIdentity()) return;
    settings.setValue("includePrivacyProtectedLocations", false);
    settings.setValue("hasSeenFullDiskAccessIntroduction", false);
    settings.setValue("fullDiskAccessSigningIdentity", currentSigningIdentity());
    settings.sync();
}

}  // namespace DiskAccessPreference
}  // namespace corvalent
