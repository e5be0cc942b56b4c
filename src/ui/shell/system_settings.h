#pragma once

// Where the person goes to look at their folders' access. This system has no
// switch that grants a program access to folders: the folders' owner and
// permissions decide, and the file manager shows both.

#include <functional>

namespace corvalent {

// Opens the home folder in the file manager, detached (openWithDesktop). False when
// nothing could be started, so callers can go straight to checking access
// again. Blocking: call it off the GUI thread.
bool openFullDiskAccessSettings();

// Replaces the opener, so tests start no program; an empty function restores it.
void setSystemSettingsOpenerForTesting(std::function<bool()> opener);

}  // namespace corvalent
