#include "ui/desktop/desktop_settings.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFile>

#include <string>

#include "core/common/child_process.h"
#include "models/background_task.h"
#include "ui/desktop/desktop_portal.h"

namespace corvalent {
namespace {

const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString gnomeInterface = QStringLiteral("org.gnome.desktop.interface");
const QString colorScheme = QStringLiteral("color-scheme");
const QString reducedMotion = QStringLiteral("reduced-motion");
const QString enableAnimations = QStringLiteral("enable-animations");

// Nobody answered for the portal, as against a portal that answered no.
bool portalAbsent(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::Disconnected:
    case QDBusError::NoServer: return true;
    default: return false;
    }
}

// Read wraps the value in one more variant than ReadOne and the change signal.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
    return value;
}

// A value of GNOME's interface settings through its own tool, which can take
// seconds. None where the tool is missing or fails.
std::optional<std::string> gnomeInterfaceSetting(const std::string& key)
{
    if (!QFile::exists("/usr/bin/gsettings")) return std::nullopt;
    ChildRunRequest request;
    request.executable = "/usr/bin/gsettings";
    request.arguments = {"get", gnomeInterface.toStdString(), key};
    request.deadline = std::chrono::milliseconds(1'000);
    const auto run = runChild(request);
    if (run.exitStatus != 0) return std::nullopt;
    return run.output;
}

}  // namespace

DesktopSettings::DesktopSettings(QDBusConnection bus, std::chrono::milliseconds answerTimeout, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), answerTimeout_(static_cast<int>(answerTimeout.count()))
{
}

void DesktopSettings::start()
{
    // QtDBus finds the slot's parameter types by name, which Qt knows only once registered.
    qRegisterMetaType<QDBusVariant>();
    // Listening first: a change made while the answers travel is not missed.
    bus_.connect(DesktopPortal::service, DesktopPortal::path, settingsInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(appearance, colorScheme, [this](const Reply& reply) {
        if (!reply.value || !takeColorScheme(*reply.value)) askGnomeTool(colorScheme);
    });
    read(appearance, reducedMotion, [this](const Reply& reply) {
        if (reply.value && takeReducedMotion(*reply.value)) return;
        if (!reply.portalAnswered) return askGnomeTool(enableAnimations);
        // Portals before reduced-motion pass GNOME's own key on.
        read(gnomeInterface, enableAnimations, [this](const Reply& older) {
            if (!older.value || !takeAnimationsEnabled(*older.value)) askGnomeTool(enableAnimations);
        });
    });
}

void DesktopSettings::read(const QString& group, const QString& key, std::function<void(const Reply&)> done,
                           bool readOne)
{
    auto call = QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path, settingsInterface,
                                               readOne ? QStringLiteral("ReadOne") : QStringLiteral("Read"));
    call << group << key;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, answerTimeout_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, group, key, readOne, done = std::move(done)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                if (!reply.isError()) return done({unwrapped(reply.value().variant()), true});
                // Portals before ReadOne have only Read.
                if (readOne && reply.error().type() == QDBusError::UnknownMethod) return read(group, key, done, false);
                done({std::nullopt, !portalAbsent(reply.error())});
            });
}

void DesktopSettings::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    const auto changed = unwrapped(value.variant());
    if (group == appearance && key == colorScheme) takeColorScheme(changed);
    if (group == appearance && key == reducedMotion) takeReducedMotion(changed);
    if (group == gnomeInterface && key == enableAnimations) takeAnimationsEnabled(changed);
}

void DesktopSettings::askGnomeTool(const QString& key)
{
    BackgroundTask::start(
        this, [key = key.toStdString()](std::stop_token) { return gnomeInterfaceSetting(key); },
        [this, key](const std::optional<std::string>& value) {
            if (!value) return;
            if (key == colorScheme && !colorSchemeFromPortal_)
                setPrefersDark(value->find("prefer-dark") != std::string::npos);
            if (key == enableAnimations && !motionFromPortal_) setAnimationsEnabled(!value->starts_with("false"));
        },
        {.userInitiated = true});
}

bool DesktopSettings::takeColorScheme(const QVariant& value)
{
    if (value.typeId() != QMetaType::UInt) return false;
    colorSchemeFromPortal_ = true;
    // 1 prefers dark; 0 (no preference), 2 (prefers light) and newer values read as light.
    setPrefersDark(value.toUInt() == 1);
    return true;
}

bool DesktopSettings::takeReducedMotion(const QVariant& value)
{
    if (value.typeId() != QMetaType::UInt) return false;
    motionFromPortal_ = reducedMotionKnown_ = true;
    setAnimationsEnabled(value.toUInt() != 1);
    return true;
}

bool DesktopSettings::takeAnimationsEnabled(const QVariant& value)
{
    if (value.typeId() != QMetaType::Bool) return false;
    motionFromPortal_ = true;
    if (!reducedMotionKnown_) setAnimationsEnabled(value.toBool());
    return true;
}

void DesktopSettings::setPrefersDark(bool dark)
{
    if (prefersDark_ == dark) return;
    prefersDark_ = dark;
    emit prefersDarkChanged();
}

void DesktopSettings::setAnimationsEnabled(bool enabled)
{
    if (animationsEnabled_ == enabled) return;
    animationsEnabled_ = enabled;
    emit animationsEnabledChanged();
}

}  // namespace corvalent
