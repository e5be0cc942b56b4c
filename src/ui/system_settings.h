#pragma once

// Opens the desktop's own settings application, where the person grants or
// checks access to their folders.

#include <functional>

namespace corvalent {

// Starts the first installed of GNOME Settings (its privacy page) and KDE's
// System Settings, detached. False when neither is installed, so callers can
// go straight to checking access again.
bool openFullDiskAccessSettings();

// Replaces the opener, so tests start no program; an empty function restores it.
void setSystemSettingsOpenerForTesting(std::function<bool()> opener);

}  // namespace corvalent
