#include "ui/system_settings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace corvalent {
namespace {

std::function<bool()>& testOpener()
{
    static std::function<bool()> opener;
    return opener;
}

bool startDesktopSettings()
{
    struct Candidate {
        const char* program;
        QStringList arguments;
    };
    const Candidate candidates[] = {
        {"gnome-control-center", {QStringLiteral("privacy")}},
        {"systemsettings", {}},
    };
    for (const auto& candidate : candidates) {
        const auto path = QStandardPaths::findExecutable(QString::fromLatin1(candidate.program));
        if (path.isEmpty()) continue;
        if (QProcess::startDetached(path, candidate.arguments)) return true;
    }
    return false;
}

}  // namespace

bool openFullDiskAccessSettings()
{
    if (testOpener()) return testOpener()();
    return startDesktopSettings();
}

void setSystemSettingsOpenerForTesting(std::function<bool()> opener)
{
    testOpener() = std::move(opener);
}

}  // namespace corvalent
