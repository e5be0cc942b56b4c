#include "ui/desktop/file_reveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFile>

namespace corvalent {
namespace {

bool openParentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    return QDesktopServices::openUrl(
        localFileUrl(slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash)));
}

}  // namespace

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
    const auto openParent = [path, failure = std::move(failure)] {
        if (!openParentFolder(path) && failure) failure(path);
    };
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
