#include "ui/disk/file_reveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace corvalent {
namespace {

void openParentFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

}  // namespace

void DesktopFileRevealer::reveal(const std::string& path)
{
    // Paths keep their bytes; the file name encoding turns them back into a name.
    const auto name = QFile::decodeName(QByteArray::fromStdString(path));
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openParentFolder(name);
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                               QStringLiteral("/org/freedesktop/FileManager1"),
                                               QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(name).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5'000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [name](QDBusPendingCallWatcher* done) {
        if (QDBusPendingReply<>(*done).isError()) openParentFolder(name);
        done->deleteLater();
    });
}

}  // namespace corvalent
