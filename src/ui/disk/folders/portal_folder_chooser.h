#pragma once

// The desktop's own folder chooser, through the file-chooser portal
// (org.freedesktop.portal.FileChooser, OpenFile for one folder). Every call
// is asynchronous: the window never waits on the portal or on the file
// system. Where there is no portal, the fallback chooser asks at once; a
// portal slow to take the request is waited for, and one that has not taken
// it within `replyLimit` has the request closed before the fallback asks.
// One chooser at a time: asking again while the fallback asks brings it
// forward; while the portal has a request, that one is closed and the
// portal asked anew, as a portal may take a request and never answer it.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

#include "ui/disk/folders/folder_chooser.h"

namespace corvalent {

class PortalFolderChooser : public FolderChooser {
public:
    // Asks the portal on `bus`, else `fallback`.
    PortalFolderChooser(QDBusConnection bus, std::shared_ptr<FolderChooser> fallback,
                        std::chrono::milliseconds replyLimit = std::chrono::seconds(25));

    void choose(QWidget* parent, std::function<void(std::optional<std::string>)> chosen) override;

private:
    QDBusConnection bus_;
    std::shared_ptr<FolderChooser> fallback_;
    int replyLimit_;
    int sent_ = 0;
    QObject requests_;                                           // owns the requests not yet ended
    QPointer<QObject> open_;                                     // the request under way
    std::shared_ptr<bool> fallbackOpen_ = std::make_shared<bool>(false);  // the fallback asks now
};

}  // namespace corvalent
