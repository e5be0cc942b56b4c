#include "ui/disk/folder_chooser.h"

#include <QFile>
#include <QWidget>

#include "models/full_disk_access.h"
#include "ui/disk/folder_chooser_dialog.h"

namespace corvalent {

DialogFolderChooser::DialogFolderChooser() : DialogFolderChooser(FullDiskAccessVerifier::programPath()) {}

DialogFolderChooser::DialogFolderChooser(std::string program, std::chrono::milliseconds answerLimit)
    : program_(std::move(program)), answerLimit_(answerLimit)
{
}

DialogFolderChooser::~DialogFolderChooser()
{
    // The dialog answers this chooser: it goes first.
    delete dialog_.data();
}

FolderChooserDialog* DialogFolderChooser::dialog() const
{
    return static_cast<FolderChooserDialog*>(dialog_.data());
}

void DialogFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    chosen_ = std::move(chosen);
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    auto* owner = parent != nullptr ? parent->window() : nullptr;
    auto* dialog = new FolderChooserDialog(program_, owner, answerLimit_);
    dialog_ = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [this, dialog](int outcome) {
        auto chosen = std::move(chosen_);
        chosen_ = nullptr;
        if (!chosen) return;
        if (outcome != QDialog::Accepted) return chosen(std::nullopt);
        chosen(QFile::encodeName(dialog->choice()).toStdString());
    });
    // Window-modal over the asking window.
    dialog->open();
}

}  // namespace corvalent
