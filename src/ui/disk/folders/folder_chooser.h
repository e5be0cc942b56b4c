#pragma once

// Asks the person for one existing folder to map. The page holds the chooser
// through this interface so that tests can answer it.

#include <QDialog>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace corvalent {

class FolderChooserDialog;
class PendingListings;

class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // Calls `chosen` with the folder, or with nothing when the person
    // cancels. May return before the person has answered. A request while
    // the chooser is open brings it forward.
    virtual void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) = 0;
};

// The program's own folder chooser (FolderChooserDialog), window-modal over
// `parent`'s window: titled "Choose a folder to map", accepted with "Scan
// Folder", folders only. One at a time: a request while it is open brings
// it forward and takes it over. A folder whose helper is still out, from
// this dialog or an earlier one, is not asked again until that helper ends,
// and a share holds a bounded number of them (PendingListings).
class OwnFolderChooser : public FolderChooser {
public:
    // Lists folders through this program itself.
    OwnFolderChooser();
    // Through `program`, which answers FolderLister::helperFlag; a folder not
    // listed within `answerLimit` shows as not answering.
    explicit OwnFolderChooser(std::string program,
                                 std::chrono::milliseconds answerLimit = std::chrono::seconds(3));
    ~OwnFolderChooser() override;

    void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) override;
    // The open dialog, else null.
    FolderChooserDialog* dialog() const;

private:
    std::string program_;
    std::chrono::milliseconds answerLimit_;
    std::shared_ptr<PendingListings> pending_;
    QPointer<QDialog> dialog_;
    std::function<void(std::optional<std::string>)> chosen_;
};

}  // namespace corvalent
