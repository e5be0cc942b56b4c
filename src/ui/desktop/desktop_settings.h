#pragma once

// What the desktop says about colour and motion, followed while the program
// runs. The settings portal answers on GNOME, Plasma and most other desktops
// and announces every change; for what it does not answer, GNOME's settings
// tool is asked once. No call waits on the GUI thread.

#include <QDBusConnection>
#include <QObject>
#include <QVariant>

#include <chrono>
#include <functional>
#include <optional>

class QDBusVariant;

namespace corvalent {

class DesktopSettings : public QObject {
    Q_OBJECT

public:
    // Each call on `bus` gives up after `answerTimeout`.
    DesktopSettings(QDBusConnection bus, std::chrono::milliseconds answerTimeout, QObject* parent = nullptr);

    // Listens for changes, then asks for the current values.
    void start();

    // Unknown until an answer has come.
    std::optional<bool> prefersDark() const { return prefersDark_; }
    std::optional<bool> animationsEnabled() const { return animationsEnabled_; }

signals:
    void prefersDarkChanged();
    void animationsEnabledChanged();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    // The value, or none with whether the portal was there to say so.
    struct Reply {
        std::optional<QVariant> value;
        bool portalAnswered = false;
    };

    void read(const QString& group, const QString& key, std::function<void(const Reply&)> done, bool readOne = true);
    void askGnomeTool(const QString& key);
    // Each takes a portal value of the key's own type, and tells whether it did.
    bool takeColorScheme(const QVariant& value);
    bool takeReducedMotion(const QVariant& value);
    bool takeAnimationsEnabled(const QVariant& value);
    void setPrefersDark(bool dark);
    void setAnimationsEnabled(bool enabled);

    QDBusConnection bus_;
    int answerTimeout_;
    std::optional<bool> prefersDark_;
    std::optional<bool> animationsEnabled_;
    // Once the portal has spoken for a setting, GNOME's tool no longer does.
    bool colorSchemeFromPortal_ = false;
    bool motionFromPortal_ = false;
    // The portal's own reduced-motion key outranks GNOME's animation key.
    bool reducedMotionKnown_ = false;
};

}  // namespace corvalent
