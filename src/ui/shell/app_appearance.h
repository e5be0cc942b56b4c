#pragma once

// Light, dark, or whatever the desktop prefers: the stored choice and the
// palettes that carry it. Applying replaces the application palette, so every
// open window follows at once.

#include <QObject>
#include <QPalette>
#include <QString>

#include <optional>
#include <string>

namespace corvalent {

enum class AppAppearance { system, light, dark };

QString rawValue(AppAppearance appearance);
// Unknown or empty values read as system.
AppAppearance appearanceFromRaw(const QString& raw);
QString appearanceTitle(AppAppearance appearance);
QString appearanceSymbol(AppAppearance appearance);

// QSettings "appearance", system when unset.
AppAppearance storedAppearance();
// Stores the choice, applies it and tells every control showing it.
void setAppearance(AppAppearance appearance);
void applyAppearance(AppAppearance appearance);

QPalette lightPalette();
QPalette darkPalette();

// A value of GNOME's interface settings (`org.gnome.desktop.interface`),
// read through its own tool, which can take seconds: never on the GUI thread.
// None where the tool is missing or fails.
std::optional<std::string> desktopInterfaceSetting(const std::string& key);

// Reads GNOME's colour scheme and animation setting on a worker thread and
// applies them on arrival: the system appearance is chosen again, and reduced
// motion follows. Until then, and where there is no answer, the environment,
// GTK's settings file and the defaults decide.
void readDesktopSettingsInBackground();

// Whether the desktop asks for dark: GTK_THEME, else GNOME's color-scheme
// once it has been read.
bool desktopPrefersDark();
// GNOME's enable-animations once it has been read.
std::optional<bool> desktopAnimationsEnabled();

// Announces a stored change, so that the tray menu and the settings window
// show the same choice.
class AppearanceNotifier : public QObject {
    Q_OBJECT

public:
    static AppearanceNotifier& instance();

signals:
    void appearanceChanged(corvalent::AppAppearance appearance);
};

}  // namespace corvalent
