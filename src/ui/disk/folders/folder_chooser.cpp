#include "ui/disk/folders/folder_chooser.h"

#include <QWidget>

#include "core/common/child_process.h"
#include "core/disk/folder_listing.h"
#include "ui/disk/folders/folder_chooser_dialog.h"

namespace corvalent {

OwnFolderChooser::OwnFolderChooser() : OwnFolderChooser(std::string(thisProgram)) {}

OwnFolderChooser::OwnFolderChooser(std::string program, std::chrono::milliseconds answerLimit)
    : program_(std::move(program)), answerLimit_(answerLimit), pending_(std::make_shared<PendingListings>())
{
}

OwnFolderChooser::~OwnFolderChooser()
{
    // The dialog answers this chooser: it goes first.
    delete dialog_.data();
}

FolderChooserDialog* OwnFolderChooser::dialog() const
{
    return static_cast<FolderChooserDialog*>(dialog_.data());
}

void OwnFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    chosen_ = std::move(chosen);
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    auto* owner = parent != nullptr ? parent->window() : nullptr;
    auto* dialog = new FolderChooserDialog(program_, owner, answerLimit_, pending_);
    dialog_ = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [this, dialog](int outcome) {
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        if (!chosen) return;
        if (outcome != QDialog::Accepted) return chosen(std::nullopt);
        chosen(dialog->chosenFolder().toStdString());
    });
    // Window-modal over the asking window.
    dialog->open();
}

}  // namespace corvalent
