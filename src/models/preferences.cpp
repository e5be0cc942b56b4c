#include "models/preferences.h"

#include <QSettings>

namespace corvalent {
namespace {

const QString showProtectedProcessesKey = QStringLiteral("showProtectedProcesses");
const QString showInspectorKey = QStringLiteral("showInspector");
const QString includePrivacyProtectedLocationsKey = QStringLiteral("includePrivacyProtectedLocations");
const QString hasSeenFullDiskAccessIntroductionKey = QStringLiteral("hasSeenFullDiskAccessIntroduction");
const QString appearanceKey = QStringLiteral("appearance");
const QString fullDiskAccessSigningIdentityKey = QStringLiteral("fullDiskAccessSigningIdentity");
const QString languageModelKey = QStringLiteral("languageModel");

// A QSettings object writes its changes to the file when it ends, so each
// write is on disk by the time the caller goes on (a relaunch relies on it).
// True when `value` differs from `before`, the value read before the write.
bool store(const QString& key, const QVariant& value, const QVariant& before)
{
    QSettings().setValue(key, value);
    return value != before;
}

}  // namespace

Preferences& Preferences::standard()
{
    // Never destroyed: it may outlive the application object.
    static auto* preferences = new Preferences;
    return *preferences;
}

bool Preferences::showProtectedProcesses() const
{
    return QSettings().value(showProtectedProcessesKey, false).toBool();
}

void Preferences::setShowProtectedProcesses(bool on)
{
    if (store(showProtectedProcessesKey, on, showProtectedProcesses())) emit showProtectedProcessesChanged(on);
}

bool Preferences::showInspector() const
{
    return QSettings().value(showInspectorKey, true).toBool();
}

void Preferences::setShowInspector(bool on)
{
    if (store(showInspectorKey, on, showInspector())) emit showInspectorChanged(on);
}

bool Preferences::includePrivacyProtectedLocations() const
{
    return QSettings().value(includePrivacyProtectedLocationsKey, false).toBool();
}

void Preferences::setIncludePrivacyProtectedLocations(bool on)
{
    if (store(includePrivacyProtectedLocationsKey, on, includePrivacyProtectedLocations()))
        emit includePrivacyProtectedLocationsChanged(on);
}

bool Preferences::hasSeenFullDiskAccessIntroduction() const
{
    return QSettings().value(hasSeenFullDiskAccessIntroductionKey, false).toBool();
}

void Preferences::setHasSeenFullDiskAccessIntroduction(bool seen)
{
    if (store(hasSeenFullDiskAccessIntroductionKey, seen, hasSeenFullDiskAccessIntroduction()))
        emit hasSeenFullDiskAccessIntroductionChanged(seen);
}

QString Preferences::appearance() const
{
    return QSettings().value(appearanceKey, QStringLiteral("system")).toString();
}

void Preferences::setAppearance(const QString& raw)
{
    if (store(appearanceKey, raw, appearance())) emit appearanceChanged(raw);
}

QString Preferences::fullDiskAccessSigningIdentity() const
{
    return QSettings().value(fullDiskAccessSigningIdentityKey).toString();
}

void Preferences::setFullDiskAccessSigningIdentity(const QString& identity)
{
    if (store(fullDiskAccessSigningIdentityKey, identity, fullDiskAccessSigningIdentity()))
        emit fullDiskAccessSigningIdentityChanged(identity);
}

QString Preferences::languageModel() const
{
    return QSettings().value(languageModelKey).toString();
}

QVariant iniFileValue(const QString& path, const QString& key)
{
    return QSettings(path, QSettings::IniFormat).value(key);
}

}  // namespace corvalent
