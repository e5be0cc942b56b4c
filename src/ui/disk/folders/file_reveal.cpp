#include "ui/disk/folders/file_reveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace corvalent {
namespace {

void openParentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    QDesktopServices::openUrl(localFileUrl(slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash)));
}

}  // namespace

QUrl localFileUrl(const std::string& path)
{
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"), QUrl::StrictMode);
}

void DesktopFileRevealer::reveal(const std::string& path)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openParentFolder(path);
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                               QStringLiteral("/org/freedesktop/FileManager1"),
                                               QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{localFileUrl(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5'000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher* done) {
        if (QDBusPendingReply<>(*done).isError()) openParentFolder(path);
        done->deleteLater();
    });
}

}  // namespace corvalent
