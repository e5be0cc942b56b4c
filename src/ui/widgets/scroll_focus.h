#pragma once

// How the keyboard meets a scroll area of the kit. The area stops Tab only
// while it has something to scroll (then the arrows and Page keys scroll it),
// and shows the kit's ring while a key brought the focus there. A control
// inside it that takes the focus by a key or from the program, from inside
// the area or from outside it, is brought into view.

class QAbstractScrollArea;
class QScrollArea;

namespace corvalent {

void followKeyboard(QScrollArea& area);

// The kit's ring around the whole of `area` (a list, say), its corners
// rounded by `radius` as the area's frame is, while a key brought the focus
// there, whether or not a row is current. Call it after installing any event
// filter of the area's own that eats its focus events.
void showFocusRing(QAbstractScrollArea& area, double radius);

}  // namespace corvalent
