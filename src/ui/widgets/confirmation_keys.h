#pragma once

// The keys of a sheet that asks before it acts (a stop, a force stop, a move
// to the Trash). Cancel takes the first focus each time the sheet shows, with
// its ring when a key opened the sheet. Tab reaches the action, and Space, a
// click or an assistive tool's press carries it out; Return and Enter never
// do, even while the action has focus, and neither button is the sheet's
// default. Return presses Cancel, or another button of the sheet, while it
// has the focus. Escape cancels, as in every dialog.

class QDialog;

namespace corvalent {

class Button;

void guardConfirmation(QDialog& sheet, Button& cancel, Button& action);

}  // namespace corvalent
