#include "ui/disk/folder_chooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QWidget>

namespace corvalent {

void DialogFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    auto* dialog = new QFileDialog(parent, QStringLiteral("Choose a folder to map"), QDir::homePath());
    // Qt's own dialog: the desktop's portal dialog could not hide its
    // new-folder command, and mapping never creates anything.
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Scan Folder"));
    if (auto* newFolder = dialog->findChild<QWidget*>(QStringLiteral("newFolderButton"))) newFolder->hide();
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int outcome) {
        const auto files = dialog->selectedFiles();
        if (outcome != QDialog::Accepted || files.isEmpty()) return chosen(std::nullopt);
        chosen(QFile::encodeName(QDir::cleanPath(files.first())).toStdString());
    });
    dialog->open();
}

}  // namespace corvalent
