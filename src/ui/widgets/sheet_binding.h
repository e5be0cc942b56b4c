#pragma once

// A window-modal sheet that stays open while a value it shows is set. A new
// value replaces the sheet of the one before; closing a sheet clears the
// value only while it is still the one shown, so the close of a replaced
// sheet never dismisses its successor.

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace corvalent {

// Call whenever the value may have changed. `currentID` names the value
// now (none: no sheet), `make` builds the sheet for it, `clear` unsets it.
void syncSheet(QObject& owner, QPointer<QDialog>& slot, const std::function<std::optional<QString>()>& currentID,
               const std::function<QDialog*()>& make, const std::function<void()>& clear);

}  // namespace corvalent
