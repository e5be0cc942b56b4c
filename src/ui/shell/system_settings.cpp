#include "ui/shell/system_settings.h"

#include <QDir>
#include <QFile>

#include "ui/desktop/file_reveal.h"

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
    return openWithDesktop(QFile::encodeName(QDir::homePath()).toStdString());
}

void setSystemSettingsOpenerForTesting(std::function<bool()> opener)
{
    testOpener() = std::move(opener);
}

}  // namespace corvalent
