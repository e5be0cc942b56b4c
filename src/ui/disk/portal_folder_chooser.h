#pragma once

// The desktop's own folder chooser, through the file-chooser portal
// (org.freedesktop.portal.FileChooser, OpenFile for one folder). Every call
// is asynchronous: the window never waits on the portal or on the file
// system. Where no portal answers the request, the fallback chooser asks.

#include <QDBusConnection>

#include <chrono>
#include <memory>

#include "ui/disk/folder_chooser.h"

namespace corvalent {

class PortalFolderChooser : public FolderChooser {
public:
    // Asks the portal on `bus`; a request the portal has not taken within
    // `answerTimeout` goes to `fallback`.
    PortalFolderChooser(QDBusConnection bus, std::shared_ptr<FolderChooser> fallback,
                        std::chrono::milliseconds answerTimeout = std::chrono::seconds(5));

    void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) override;

private:
    QDBusConnection bus_;
    std::shared_ptr<FolderChooser> fallback_;
    int answerTimeout_;
    int requests_ = 0;
};

}  // namespace corvalent
