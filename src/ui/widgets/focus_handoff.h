#pragma once

// Passing the focus on when the control that held it goes away (a card that
// left the list, a row the list rebuilt, a button a running action turned
// off), so that it lands near where the person was instead of at the top of
// the window. The kit's ring shows on the new holder when a key led there.

class QWidget;

namespace corvalent {

// Whether the focus of `area`'s window lies on `area` or inside it, also
// while another window (a sheet) is active.
bool holdsFocus(const QWidget& area);

// Gives `to` the focus as the program's own move, and scrolls it into view
// in the scroll areas around it once their layouts have settled. In a window
// that is not active it takes the focus when the window comes back.
void handFocus(QWidget& to);

}  // namespace corvalent
