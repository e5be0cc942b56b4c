#include "ui/disk/portal_folder_chooser.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

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

// One request, from the call to the person's answer or the fallback's; it
// deletes itself once it has passed the answer on.
class PortalFolderRequest : public QObject {
    Q_OBJECT

public:
    PortalFolderRequest(QDBusConnection bus, std::shared_ptr<FolderChooser> fallback, QWidget* parent,
                        std::function<void(std::optional<std::string>)> chosen)
        : bus_(std::move(bus)), fallback_(std::move(fallback)), parent_(parent), chosen_(std::move(chosen))
    {
    }

    void send(const QString& token, int answerTimeout)
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
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, answerTimeout), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalFolderRequest::taken);
    }

public slots:
    // The person's answer: 0 chose, 1 cancelled, 2 otherwise ended.
    void response(uint code, const QVariantMap& results)
    {
        std::optional<std::string> folder;
        const auto uris = results.value(QStringLiteral("uris")).toStringList();
        if (code == 0 && !uris.isEmpty()) {
            const QUrl url(uris.first());
            if (url.isLocalFile()) folder = QFile::encodeName(url.toLocalFile()).toStdString();
        }
        answer(std::move(folder));
    }

private:
    void taken(QDBusPendingCallWatcher* call)
    {
        call->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError()) {
            // No portal, or none that chooses files, or none in time: Qt's own dialog asks.
            if (fallback_) fallback_->choose(parent_, std::move(chosen_));
            chosen_ = nullptr;
            deleteLater();
            return;
        }
        if (reply.value().path() != handle_) listenAt(reply.value().path());
    }

    void listenAt(const QString& handle)
    {
        const auto requestInterface = QStringLiteral("org.freedesktop.portal.Request");
        const auto signal = QStringLiteral("Response");
        if (!handle_.isEmpty())
            bus_.disconnect(portalService, handle_, requestInterface, signal, this, SLOT(response(uint, QVariantMap)));
        handle_ = handle;
        bus_.connect(portalService, handle_, requestInterface, signal, this, SLOT(response(uint, QVariantMap)));
    }

    void answer(std::optional<std::string> folder)
    {
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        deleteLater();
        if (chosen) chosen(std::move(folder));
    }

    QDBusConnection bus_;
    std::shared_ptr<FolderChooser> fallback_;
    QPointer<QWidget> parent_;
    std::function<void(std::optional<std::string>)> chosen_;
    QString handle_;
};

}  // namespace

PortalFolderChooser::PortalFolderChooser(QDBusConnection bus, std::shared_ptr<FolderChooser> fallback,
                                         std::chrono::milliseconds answerTimeout)
    : bus_(std::move(bus)), fallback_(std::move(fallback)), answerTimeout_(int(answerTimeout.count()))
{
}

void PortalFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    if (!bus_.isConnected()) {
        if (fallback_) fallback_->choose(parent, std::move(chosen));
        return;
    }
    const auto token = QStringLiteral("corvalent_folder_%1").arg(++requests_);
    (new PortalFolderRequest(bus_, fallback_, parent, std::move(chosen)))->send(token, answerTimeout_);
}

}  // namespace corvalent

#include "portal_folder_chooser.moc"
