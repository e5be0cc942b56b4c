#include "ui/disk/folder_chooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "ui/widgets/screen_fit.h"

namespace corvalent {
namespace {

// The one dialog and the request it answers now.
struct KeptDialog {
    QFileDialog* dialog = nullptr;
    std::function<void(std::optional<std::string>)> chosen;
};

KeptDialog& keptDialog()
{
    // Made on first use and kept, with no parent that could take it along,
    // until the process ends.
    static auto* kept = [] {
        auto* made = new KeptDialog;
        auto* dialog = new QFileDialog(nullptr, QStringLiteral("Choose a folder to map"), QDir::homePath());
        // Qt's own dialog, never the platform's: it hides its new-folder
        // command, as mapping never creates anything.
        dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Scan Folder"));
        if (auto* newFolder = dialog->findChild<QWidget*>(QStringLiteral("newFolderButton"))) newFolder->hide();
        QObject::connect(dialog, &QFileDialog::finished, dialog, [made](int outcome) {
            auto chosen = std::move(made->chosen);
            made->chosen = nullptr;
            if (!chosen) return;
            const auto files = made->dialog->selectedFiles();
            if (outcome != QDialog::Accepted || files.isEmpty()) return chosen(std::nullopt);
            chosen(QFile::encodeName(QDir::cleanPath(files.first())).toStdString());
        });
        made->dialog = dialog;
        return made;
    }();
    return *kept;
}

// Opens centred on the asking window, as a sheet does, and no larger than
// its screen leaves room for. The contents are placed, not the frame, which
// the platform may not know yet.
void placeOver(QWidget& dialog, const QWidget& owner)
{
    const auto platform = QGuiApplication::platformName();
    const auto* screen = owner.screen();
    if (screen == nullptr || platform.startsWith(QStringLiteral("wayland"))) return;
    auto frame = assumedFrame(platform);
    for (const auto* handle : {dialog.windowHandle(), owner.windowHandle()}) {
        if (handle != nullptr && !handle->frameMargins().isNull()) {
            frame = handle->frameMargins();
            break;
        }
    }
    const auto room = windowRoom(screen->availableGeometry(), screen->geometry(), frame, platform);
    const auto size = dialog.testAttribute(Qt::WA_Resized) ? dialog.size() : dialog.sizeHint();
    dialog.setGeometry(centredInside(size.boundedTo(room), frame, owner.frameGeometry(), screen->availableGeometry()));
}

}  // namespace

void DialogFolderChooser::choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen)
{
    auto& kept = keptDialog();
    auto* dialog = kept.dialog;
    // A request while the dialog is open takes it over.
    kept.chosen = std::move(chosen);
    if (dialog->isVisible()) {
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    dialog->setDirectory(QDir::homePath());
    // Modal over the asking window through the platform window alone.
    dialog->winId();
    auto* owner = parent != nullptr ? parent->window() : nullptr;
    dialog->windowHandle()->setTransientParent(owner != nullptr ? owner->windowHandle() : nullptr);
    if (owner != nullptr) placeOver(*dialog, *owner);
    dialog->open();
}

}  // namespace corvalent
