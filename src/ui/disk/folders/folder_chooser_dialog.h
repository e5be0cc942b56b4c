#pragma once

// The program's own folder chooser, where the desktop offers none: the
// folders of one folder in a list, a path to type, and the step up to the
// enclosing folder. Each folder is listed in a helper process
// (FolderLister), so a folder on a mount that does not answer is shown as not
// answering after a moment, and no thread of this program waits on it. A
// folder where another file system is mounted is listed without being
// looked at.

#include <QDialog>
#include <QSet>
#include <QString>

#include <chrono>
#include <string>
#include <vector>

#include "core/disk/folder_listing.h"
#include "models/background_task.h"

class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace corvalent {

class Button;
class CheckBox;
class ElidedLabel;

class FolderChooserDialog : public QDialog {
    Q_OBJECT

public:
    // Lists through `program` (see FolderLister::listApart), starting at the
    // home folder; a folder that has not answered within `answerLimit` is
    // shown as not answering.
    FolderChooserDialog(std::string program, QWidget* parent = nullptr,
                        std::chrono::milliseconds answerLimit = std::chrono::seconds(3));
    ~FolderChooserDialog() override;

    // The folder shown, and the one "Scan Folder" chooses: the selected
    // row's, else the folder shown.
    QString folder() const { return folder_; }
    QString choice() const;
    void openFolder(const QString& path);
    // Whether the folder shown is listed, not still waiting.
    bool listed() const { return !waiting_; }

    QLineEdit& pathField() const { return *path_; }
    QListWidget& list() const { return *list_; }
    ElidedLabel& message() const { return *message_; }
    Button& upButton() const { return *up_; }
    Button& chooseButton() const { return *choose_; }
    CheckBox& hiddenBox() const { return *hidden_; }

signals:
    void folderListed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void listed(const QString& path, const FolderListing& listing);
    void fill(const QString& select = {});
    void openTyped();
    void openRow(QListWidgetItem* item);
    void goUp();
    void showMessage(const QString& text);
    void syncChoose();

    std::string program_;
    std::chrono::milliseconds answerLimit_;
    QString folder_;
    std::vector<PLFolderEntry> entries_;
    bool waiting_ = false;
    bool failed_ = false;
    int generation_ = 0;
    BackgroundTask listing_;
    // Folders that did not answer while this dialog was open: not asked again.
    QSet<QString> silent_;

    Button* up_;
    QLineEdit* path_;
    QListWidget* list_;
    ElidedLabel* message_;
    CheckBox* hidden_;
    Button* choose_;
};

}  // namespace corvalent
