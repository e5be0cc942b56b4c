#pragma once

// Light, dark, or whatever the desktop prefers: the stored choice and the
// palettes that carry it. Applying replaces the application palette, so every
// open window follows at once.

#include <QObject>
#include <QPalette>
#include <QString>

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

// Whether the desktop asks for dark: GNOME's color-scheme, else GTK_THEME.
// Read once.
bool desktopPrefersDark();

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
