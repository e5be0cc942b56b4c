#include "ui/desktop/file_reveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>

#include "core/common/program_start.h"
#include "models/background_task.h"

namespace corvalent {
namespace {

// Opens the parent folder of `path` off the GUI thread; `failure` (if set)
// hears of it on the GUI thread when nothing could be started.
void openParentFolder(const std::string& path, const FileRevealer::Failure& failure)
{
    const auto slash = path.rfind('/');
    const auto parent = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
    BackgroundTask::start(
        QCoreApplication::instance(), [parent](std::stop_token) { return openWithDesktop(parent); },
        [path, failure](bool opened) {
            if (!opened && failure) failure(path);
        },
        {.userInitiated = true, .ownThread = true});
}

}  // namespace

bool openWithDesktop(const std::string& path)
{
    return startProgram({"xdg-open", path}) == ProgramStart::started;
}

QUrl localFileUrl(const std::string& path)
{
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString revealFailureText(const std::string& path)
{
    const auto slash = path.rfind('/');
    const auto name = slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
    return QStringLiteral("No file manager could show “%1”.").arg(QFile::decodeName(QByteArray::fromStdString(name)));
}

void DesktopFileRevealer::showItem(const std::string& path, Failure failure)
{
    const auto openParent = [path, failure = std::move(failure)] { openParentFolder(path, failure); };
    if (!bus_.isConnected()) return openParent();
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                               QStringLiteral("/org/freedesktop/FileManager1"),
                                               QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{localFileUrl(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5'000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [openParent](QDBusPendingCallWatcher* done) {
        if (QDBusPendingReply<>(*done).isError()) openParent();
        done->deleteLater();
    });
}

}  // namespace corvalent
