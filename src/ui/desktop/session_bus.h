#pragma once

// The session bus's address, settled before anything asks for the bus.

namespace corvalent {

// With no session bus address given, the D-Bus library looks for the bus in
// the runtime folder and, failing that, starts `dbus-launch`: by its path
// where it is installed, else by its name through PATH, in a child whose
// answer a thread of this program awaits without a bound, the GUI thread
// with it. Where the launcher is not installed, the bus is named as the
// runtime folder's, the library's own first choice, and nothing is looked up.
void settleSessionBusAddress();

}  // namespace corvalent
