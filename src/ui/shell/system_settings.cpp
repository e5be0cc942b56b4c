#include "ui/shell/system_settings.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace corvalent {
namespace {

std::function<bool()>& testOpener()
{
    static std::function<bool()> opener;
    return opener;
}

}  // namespace

bool openFullDiskAccessSettings()
{
    if (testOpener()) return testOpener()();
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::homePath()));
}

void setSystemSettingsOpenerForTesting(std::function<bool()> opener)
{
    testOpener() = std::move(opener);
}

}  // namespace corvalent
