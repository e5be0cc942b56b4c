#pragma once

// Shows an item in the desktop's file manager, selected. The disk views hold
// it through this interface so that tests can see what was revealed.

#include <QUrl>

#include <string>

namespace corvalent {

// A file URL that names `path` by its own bytes: what is not UTF-8 stays
// percent-encoded instead of turning into replacement characters.
QUrl localFileUrl(const std::string& path);

class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const std::string& path) = 0;
};

// The file manager's freedesktop `org.freedesktop.FileManager1.ShowItems`
// on the session bus; where no file manager answers, the item's parent
// folder opens with the desktop's default handler. Returns at once.
class DesktopFileRevealer : public FileRevealer {
public:
    void reveal(const std::string& path) override;
};

}  // namespace corvalent
