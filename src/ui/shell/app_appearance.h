#pragma once

// Light, dark, or whatever the desktop prefers: the stored choice and the
// palettes that carry it. Applying replaces the application palette, so every
// open window follows at once.

#include <QPalette>
#include <QString>

#include <chrono>
#include <optional>

class QDBusConnection;

namespace corvalent {

enum class AppAppearance { system, light, dark };

QString rawValue(AppAppearance appearance);
// Unknown or empty values read as system.
AppAppearance appearanceFromRaw(const QString& raw);
QString appearanceTitle(AppAppearance appearance);
QString appearanceSymbol(AppAppearance appearance);

// The stored preference "appearance", system when unset.
AppAppearance storedAppearance();
// Stores the choice and applies it; controls that show it follow the
// preference's change signal.
void setAppearance(AppAppearance appearance);
void applyAppearance(AppAppearance appearance);

QPalette lightPalette();
QPalette darkPalette();

// Follows the desktop's colour scheme and animation setting from now on, on
// the session bus (see DesktopSettings): under the system appearance each
// change of scheme repaints every window at once; under a chosen one it is
// kept for when the system appearance is chosen again. Following again
// replaces the earlier follower.
void followDesktopSettings();
void followDesktopSettings(const QDBusConnection& bus, std::chrono::milliseconds answerTimeout);

// Whether the desktop asks for dark: GTK_THEME, else the desktop's colour
// scheme once it has been told.
bool desktopPrefersDark();
// The desktop's animation setting once it has been told.
std::optional<bool> desktopAnimationsEnabled();

}  // namespace corvalent
