#pragma once

// Asks the person for one existing folder to map. The page holds the chooser
// through this interface so that tests can answer it.

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace corvalent {

class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // Calls `chosen` with the folder, or with nothing when the person
    // cancels. May return before the person has answered.
    virtual void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) = 0;
};

// Qt's own folder dialog, window-modal over `parent`'s window: titled
// "Choose a folder to map", accepted with "Scan Folder", folders only, no
// new-folder command. One dialog serves every request and is never
// destroyed: its file-system model's destructor waits for the model's
// reader thread, which a hung mount can hold for good.
class DialogFolderChooser : public FolderChooser {
public:
    void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) override;
};

}  // namespace corvalent
