#pragma once

// Bringing the window forward for a later start of the program, and ending
// that start's launch feedback (the busy pointer, the "starting" entry in a
// task bar) with the token its launcher gave it.

class QWidget;

namespace corvalent {

struct LaunchToken;

// On X11 the start's sequence is completed (a "remove" message on the root
// window, as the freedesktop startup notification protocol has it) and the
// window is activated with the time of the launch; on Wayland the activation
// token goes with the activation. Without a token the window is activated as usual.
void activateForLaunch(QWidget& window, const LaunchToken& launch);

}  // namespace corvalent
