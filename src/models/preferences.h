#pragma once

// The preferences the program keeps between runs, each under its stored key
// with a typed getter, a setter and a change signal. One object serves the
// application's settings store, so a change made in any window reaches every
// view that shows it. Reads go to the store each time: a value written before
// the object existed, or by an earlier run, counts at once.

#include <QObject>
#include <QString>
#include <QVariant>

namespace corvalent {

class Preferences : public QObject {
    Q_OBJECT

public:
    // The object for the application's store; GUI thread only.
    static Preferences& standard();

    // "showProtectedProcesses", false when absent.
    bool showProtectedProcesses() const;
    void setShowProtectedProcesses(bool on);
    // "showInspector", true when absent.
    bool showInspector() const;
    void setShowInspector(bool on);
    // "includePrivacyProtectedLocations", false when absent.
    bool includePrivacyProtectedLocations() const;
    void setIncludePrivacyProtectedLocations(bool on);
    // "hasSeenFullDiskAccessIntroduction", false when absent.
    bool hasSeenFullDiskAccessIntroduction() const;
    void setHasSeenFullDiskAccessIntroduction(bool seen);
    // "appearance": the raw value of the appearance choice, "system" when absent.
    QString appearance() const;
    void setAppearance(const QString& raw);
    // "fullDiskAccessSigningIdentity": the identity under which the two
    // access preferences were last valid; empty when absent.
    QString fullDiskAccessSigningIdentity() const;
    void setFullDiskAccessSigningIdentity(const QString& identity);
    // "languageModel": the local model to ask, set by hand; empty when absent.
    QString languageModel() const;

    // Each setter stores its value even when it equals the current one (so a
    // default becomes explicit) and writes it through to the file at once;
    // its signal is sent only when the value read back changes.

signals:
    void showProtectedProcessesChanged(bool on);
    void showInspectorChanged(bool on);
    void includePrivacyProtectedLocationsChanged(bool on);
    void hasSeenFullDiskAccessIntroductionChanged(bool seen);
    void appearanceChanged(const QString& raw);
    void fullDiskAccessSigningIdentityChanged(const QString& identity);

private:
    Preferences() = default;
};

// A value from another program's INI-style settings file (GTK's
// settings.ini), as "Group/key"; invalid when the file or the key is absent.
QVariant iniFileValue(const QString& path, const QString& key);

}  // namespace corvalent
