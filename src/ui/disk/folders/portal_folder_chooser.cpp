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

namespace corvalent {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// The path the portal answers a request named `token` on: the request
// folder, then the caller's unique name without its colon, dots as
// underscores. An older portal may name another, given in its reply.
QString expectedHandle(const QDBusConnection& bus, const QString& token)
{
    auto sender = bus.baseService();
    if (sender.startsWith(u':')) sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return portalPath + QStringLiteral("/request/") + sender + u'/' + token;
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
// replied: a request given to the fallback stays to close one that the
// portal takes late.
class PortalFolderRequest : public QObject {
    Q_OBJECT

public:
    PortalFolderRequest(QDBusConnection bus, Fallback fallback, QWidget* parent, Chosen chosen)
        : bus_(std::move(bus)), fallback_(std::move(fallback)), parent_(parent), chosen_(std::move(chosen))
    {
    }

    // While the portal has the request, or may still take it.
    bool withPortal() const { return chosen_ != nullptr; }

    void send(const QString& token, int replyLimit)
    {
        // Listening before the call, so that no answer can come first.
        listenAt(expectedHandle(bus_, token));
        auto call = QDBusMessage::createMethodCall(portalService, portalPath,
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
        bus_.disconnect(portalService, handle_, requestInterface(), QStringLiteral("Response"), this,
                        SLOT(response(uint, QVariantMap)));
        if (closeFirst) close(handle_);
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        if (replied_) deleteLater();
        if (fallback_) fallback_(parent_, std::move(chosen));
    }

    void close(const QString& handle)
    {
        bus_.send(QDBusMessage::createMethodCall(portalService, handle, requestInterface(), QStringLiteral("Close")));
    }

    static QString requestInterface() { return QStringLiteral("org.freedesktop.portal.Request"); }

    void listenAt(const QString& handle)
    {
        const auto signal = QStringLiteral("Response");
        if (!handle_.isEmpty())
            bus_.disconnect(portalService, handle_, requestInterface(), signal, this, SLOT(response(uint, QVariantMap)));
        handle_ = handle;
        bus_.connect(portalService, handle_, requestInterface(), signal, this, SLOT(response(uint, QVariantMap)));
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
    // One chooser at a time: the portal's stays as it is; the fallback's comes forward.
    if (auto* request = qobject_cast<PortalFolderRequest*>(open_.data()); request != nullptr && request->withPortal())
        return;
    if (*fallbackOpen_ || !bus_.isConnected()) return fallback(parent, std::move(chosen));
    const auto token = QStringLiteral("corvalent_folder_%1").arg(++requests_);
    auto* request = new PortalFolderRequest(bus_, fallback, parent, std::move(chosen));
    open_ = request;
    request->send(token, replyLimit_);
}

}  // namespace corvalent

#include "portal_folder_chooser.moc"
