#include "ui/widgets/sheet_binding.h"

namespace corvalent {

void syncSheet(QObject& owner, QPointer<QDialog>& slot, const std::function<std::optional<QString>()>& currentID,
               const std::function<QDialog*()>& make, const std::function<void()>& clear)
{
    const auto id = currentID();
    if (!slot.isNull() && (!id || slot->property("sheetID").toString() != *id)) {
        QDialog* shown = slot;
        slot = nullptr;
        shown->close();
    }
    if (!id || !slot.isNull()) return;
    auto* sheet = make();
    sheet->setProperty("sheetID", *id);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QDialog::finished, &owner, [currentID, clear, shownID = *id] {
        if (currentID() == shownID) clear();
    });
    slot = sheet;
    sheet->open();
}

}  // namespace corvalent
