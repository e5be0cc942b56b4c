#include "ui/disk/folders/portal_folder_chooser.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <limits>

#include "ui/desktop/desktop_portal.h"

namespace corvalent {
namespace {


// The path the portal answers a request named `token` on: the request
// folder, then the caller's unique name without its colon, dots as
// underscores. An older portal may name another, given in its reply.
QString expectedHandle(const QDBusConnection& bus, const QString& token)
{
    auto sender = bus.baseService();
    if (sender.startsWith(u':')) sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return DesktopPortal::path + QStringLiteral("/request/") + sender + u'/' + token;
}

// The asking window as the portal names it: an X11 window by its id; on
// other platforms none, and the desktop places the chooser itself.
QString parentWindow(QWidget* parent)
{
    if (parent == nullptr || QGuiApplication::platformName() != QStringLiteral("xcb")) return {};
    return QStringLiteral("x11:") + QString::number(parent->window()->winId(), 16);
}

// The errors that say there is no portal to ask: no such service, object,
// interface or method, or no bus.
bool meansNoPortal(const QDBusError& error)
{
    static const QStringList names{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
    };
    return names.contains(error.name()) || error.name().startsWith(QStringLiteral("org.freedesktop.DBus.Error.Spawn."));
}

using Chosen = std::function<void(std::optional<std::string>)>;
using Fallback = std::function<void(QWidget*, Chosen)>;

// One request, from the call to the person's answer or the fallback's. It
// deletes itself once it has passed the answer on, and once the portal has
// replied: a request given to the fallback or given up stays to close one
// that the portal takes late. Its owner is the chooser that sent it.
class PortalFolderRequest : public QObject {
    Q_OBJECT

public:
    PortalFolderRequest(QDBusConnection bus, Fallback fallback, QWidget* parent, Chosen chosen, QObject* owner)
        : QObject(owner), bus_(std::move(bus)), fallback_(std::move(fallback)), parent_(parent),
          chosen_(std::move(chosen))
    {
    }

    // Asked again meanwhile: the portal's chooser is closed, now or once
    // the portal takes the request, and this request answers nobody.
    void abandon()
    {
        if (!chosen_) return;
        stopListening();
        chosen_ = nullptr;
        if (!replied_) return;
        close(handle_);
        deleteLater();
    }

    void send(const QString& token, int replyLimit)
    {
        // Listening before the call, so that no answer can come first.
        listenAt(expectedHandle(bus_, token));
        auto call = QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path,
                                                   QStringLiteral("org.freedesktop.portal.FileChooser"),
                                                   QStringLiteral("OpenFile"));
        const QVariantMap options{{QStringLiteral("handle_token"), token},
                                  {QStringLiteral("accept_label"), QStringLiteral("Scan Folder")},
                                  {QStringLiteral("modal"), true},
                                  {QStringLiteral("multiple"), false},
                                  {QStringLiteral("directory"), true}};
        call << parentWindow(parent_) << QStringLiteral("Choose a folder to map") << options;
        // The bus never gives up on the reply for us: a late one still
        // names a request, which is answered or closed.
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, std::numeric_limits<int>::max()), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalFolderRequest::taken);
        QTimer::singleShot(replyLimit, this, [this] {
            if (!replied_ && chosen_) giveUp(true);
        });
    }

public slots:
    // The person's answer: 0 chose, 1 cancelled, 2 otherwise ended.
    void response(uint code, const QVariantMap& results)
    {
        if (!chosen_) return;
        std::optional<std::string> folder;
        const auto uris = results.value(QStringLiteral("uris")).toStringList();
        if (code == 0 && !uris.isEmpty()) {
            const QUrl url(uris.first());
            if (url.isLocalFile()) folder = QFile::encodeName(url.toLocalFile()).toStdString();
        }
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        deleteLater();
        chosen(std::move(folder));
    }

private:
    void taken(QDBusPendingCallWatcher* call)
    {
        call->deleteLater();
        replied_ = true;
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (!chosen_) {
            // Given to the fallback meanwhile: a request the portal took late
            // is closed, also where the first close came before it existed.
            if (!reply.isError()) close(reply.value().path());
            deleteLater();
            return;
        }
        if (reply.isError()) return giveUp(!meansNoPortal(reply.error()));
        if (reply.value().path() != handle_) listenAt(reply.value().path());
    }

    // The fallback asks instead; a request the portal may have is closed first.
    void giveUp(bool closeFirst)
    {
        stopListening();
        if (closeFirst) close(handle_);
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        if (replied_) deleteLater();
        if (fallback_) fallback_(parent_, std::move(chosen));
    }

    void close(const QString& handle)
    {
        bus_.send(
            QDBusMessage::createMethodCall(DesktopPortal::service, handle, requestInterface(), QStringLiteral("Close")));
    }

    static QString requestInterface() { return QStringLiteral("org.freedesktop.portal.Request"); }

    void listenAt(const QString& handle)
    {
        if (!handle_.isEmpty()) stopListening();
        handle_ = handle;
        bus_.connect(DesktopPortal::service, handle_, requestInterface(), QStringLiteral("Response"), this,
                     SLOT(response(uint, QVariantMap)));
    }

    void stopListening()
    {
        bus_.disconnect(DesktopPortal::service, handle_, requestInterface(), QStringLiteral("Response"), this,
                        SLOT(response(uint, QVariantMap)));
    }

    QDBusConnection bus_;
    Fallback fallback_;
    QPointer<QWidget> parent_;
    Chosen chosen_;
    QString handle_;
    bool replied_ = false;
};

}  // namespace

PortalFolderChooser::PortalFolderChooser(QDBusConnection bus, std::shared_ptr<FolderChooser> fallback,
                                         std::chrono::milliseconds replyLimit)
    : bus_(std::move(bus)), fallback_(std::move(fallback)), replyLimit_(int(replyLimit.count()))
{
}

void PortalFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    // The fallback's answer ends its turn.
    const Fallback fallback = [fallback = fallback_, open = fallbackOpen_](QWidget* owner, Chosen chosen) {
        if (!fallback) return;
        *open = true;
        fallback->choose(owner, [open, chosen = std::move(chosen)](std::optional<std::string> folder) {
            *open = false;
            if (chosen) chosen(std::move(folder));
        });
    };
    // One chooser at a time: the fallback's comes forward; the portal's is
    // closed and asked for anew, as one may never answer.
    if (*fallbackOpen_ || !bus_.isConnected()) return fallback(parent, std::move(chosen));
    if (auto* request = qobject_cast<PortalFolderRequest*>(open_.data()); request != nullptr) request->abandon();
    const auto token = QStringLiteral("corvalent_folder_%1").arg(++sent_);
    auto* request = new PortalFolderRequest(bus_, fallback, parent, std::move(chosen), &requests_);
    open_ = request;
    request->send(token, replyLimit_);
}

}  // namespace corvalent

#include "portal_folder_chooser.moc"
