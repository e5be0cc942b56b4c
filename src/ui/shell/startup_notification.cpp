#include "ui/shell/startup_notification.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "ui/shell/single_instance.h"

namespace corvalent {
namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const ReplyPointer<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The launch's time, which the launcher puts at the end of the id ("…_TIME<n>").
std::optional<xcb_timestamp_t> launchTime(const QByteArray& startupId)
{
    const auto at = startupId.lastIndexOf("_TIME");
    if (at < 0) return std::nullopt;
    const auto digits = startupId.sliced(at + 5);
    xcb_timestamp_t time = 0;
    const auto [end, error] = std::from_chars(digits.constData(), digits.constData() + digits.size(), time);
    if (digits.isEmpty() || error != std::errc() || end != digits.constData() + digits.size()) return std::nullopt;
    return time;
}

// A value as the protocol writes it: in double quotes where it holds a space,
// a quote or a backslash, those two escaped.
QByteArray quoted(const QByteArray& value)
{
    if (!value.contains(' ') && !value.contains('"') && !value.contains('\\')) return value;
    QByteArray text("\"");
    for (const char c : value) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    return text + '"';
}

// The message in 20-byte pieces to the root window, the first marked as the
// beginning, the last holding the closing zero byte; sent from a window made
// for it, so that no window of the program's receives them back.
void sendStartupMessage(xcb_connection_t* connection, xcb_window_t root, const QByteArray& message)
{
    const xcb_window_t sender = xcb_generate_id(connection);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    const auto begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const auto more = atom(connection, "_NET_STARTUP_INFO");
    const QByteArray bytes = message + '\0';
    for (qsizetype at = 0; at < bytes.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, bytes.constData() + at, std::size_t(std::min<qsizetype>(20, bytes.size() - at)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
}

void completeStartup(QWidget& window, const QByteArray& startupId)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) return;
    auto* connection = x11->connection();
    const auto id = xcb_window_t(window.winId());
    const ReplyPointer<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr), &std::free);
    if (!tree) return;

    // The window manager learns which launch this window answers, and its time:
    // a window asked for by the user's latest action may take the focus.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_STARTUP_ID"),
                        atom(connection, "UTF8_STRING"), 8, std::uint32_t(startupId.size()), startupId.constData());
    if (const auto time = launchTime(startupId)) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = atom(connection, "_NET_ACTIVE_WINDOW");
        event.data.data32[0] = 1;  // asked by an application
        event.data.data32[1] = *time;
        xcb_send_event(connection, 0, tree->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }
    sendStartupMessage(connection, tree->root, "remove: ID=" + quoted(startupId));
    xcb_flush(connection);
}

}  // namespace

void activateForLaunch(QWidget& window, const LaunchToken& launch)
{
    const auto platform = QGuiApplication::platformName();
    // Qt's Wayland platform activates with the token it finds there, and takes it away.
    if (platform.startsWith(QLatin1String("wayland")) && !launch.activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", launch.activationToken);
    window.activateWindow();
    if (platform == QLatin1String("xcb") && !launch.startupId.isEmpty()) completeStartup(window, launch.startupId);
}

}  // namespace corvalent
