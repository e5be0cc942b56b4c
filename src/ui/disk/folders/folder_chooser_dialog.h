#pragma once

// The program's own folder chooser, where the desktop offers none: the
// folders of one folder in a list, a path to type, and the step up to the
// enclosing folder. The field shows the folder "Scan Folder" maps: the one
// listed, or the row the person moved to or clicked. Paths keep their bytes,
// so a name that is not UTF-8 is still chosen as it is. Each folder is listed
// in a helper process
// (FolderLister), so a folder on a mount that does not answer is shown as not
// answering after a moment, and no thread of this program waits on it. A
// folder where another file system is mounted is listed without being
// looked at.

#include <QDialog>
#include <QString>

#include <chrono>
#include <memory>
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
    // home folder; a folder whose helper has not answered within
    // `answerLimit` is shown as not answering, and one its share has kept
    // from being asked that long as waiting, each until its answer comes.
    // `pending` counts the helpers out (PendingListings).
    FolderChooserDialog(std::string program, QWidget* parent = nullptr,
                        std::chrono::milliseconds answerLimit = std::chrono::seconds(3),
                        std::shared_ptr<PendingListings> pending = nullptr);
    ~FolderChooserDialog() override;

    // The folder listed, and the one "Scan Folder" chooses: what the field
    // shows, the selected row's path or the folder listed; by their bytes.
    QByteArray listedFolder() const { return folder_; }
    QByteArray chosenFolder() const { return shown_; }
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
    void enter(const QByteArray& path);
    // Lists the folder shown, answering not answering after `limit`
    // (milliseconds::max(): only once it answers).
    void ask(std::chrono::milliseconds limit, const QByteArray& cameFrom);
    void listed(const QByteArray& path, const FolderListing& listing);
    void fill(const QByteArray& current = {});
    void openTyped(bool chooseOnceListed);
    void openRow(QListWidgetItem* item);
    void goUp();
    void scanShown();
    void showInField(const QByteArray& path);
    // Makes the chosen row current, else the one in `resumeAt_`, else none.
    void resumeKeyboard();
    bool fieldEdited() const;
    void showMessage(const QString& text);
    void hideMessage();
    void placeMessage();
    void syncChoose();

    std::string program_;
    std::chrono::milliseconds answerLimit_;
    std::shared_ptr<PendingListings> pending_;
    QByteArray folder_;
    // What the field shows, by its bytes, and as it was put there.
    QByteArray shown_;
    QString shownText_;
    std::vector<PLFolderEntry> entries_;
    // The row the keys go on from when the list next takes the focus.
    QByteArray resumeAt_;
    bool waiting_ = false;
    bool failed_ = false;
    // "Scan Folder" on a path typed in: chosen once it is listed.
    bool chooseOnceListed_ = false;
    int generation_ = 0;
    BackgroundTask listing_;

    Button* up_;
    QLineEdit* path_;
    QListWidget* list_;
    ElidedLabel* message_;
    CheckBox* hidden_;
    Button* choose_;
};

}  // namespace corvalent
