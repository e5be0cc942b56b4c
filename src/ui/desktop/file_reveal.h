#pragma once

// Shows an item in the desktop's file manager, selected. The disk views hold
// it through this interface so that tests can see what was revealed.

#include <QDBusConnection>
#include <QUrl>

#include <functional>
#include <string>
#include <utility>

namespace corvalent {

// A file URL that names `path` by its own bytes: what is not UTF-8 stays
// percent-encoded instead of turning into replacement characters.
QUrl localFileUrl(const std::string& path);

// Opens `path` (or a web address) with the desktop's default handler: xdg-open, looked up in a
// child, never here. False when nothing could be started within a few
// seconds. Blocking: call it off the GUI thread.
bool openWithDesktop(const std::string& path);

class FileRevealer {
public:
    using Failure = std::function<void(const std::string& path)>;

    virtual ~FileRevealer() = default;
    // Shows `path`; a failure goes to what `setFailure` gave when it was called.
    void reveal(const std::string& path) { showItem(path, failure_); }
    // As `reveal`, with a failure told to `failure` instead: a sheet says it
    // itself rather than the page behind it.
    void revealReporting(const std::string& path, Failure failure) { showItem(path, std::move(failure)); }
    // Called with the path when nothing could show it, so that the window can say so.
    void setFailure(Failure failure) { failure_ = std::move(failure); }
    const Failure& failure() const { return failure_; }

protected:
    // Shows `path` selected; when nothing can, calls `failure` (if set) with
    // the path, now or later.
    virtual void showItem(const std::string& path, Failure failure) = 0;

private:
    Failure failure_;
};

// The file manager's freedesktop `org.freedesktop.FileManager1.ShowItems`
// on `bus`; where no file manager answers, the item's parent folder opens
// with the desktop's default handler, and where that cannot start either,
// the failure is reported. Returns at once.
class DesktopFileRevealer : public FileRevealer {
public:
    explicit DesktopFileRevealer(QDBusConnection bus = QDBusConnection::sessionBus()) : bus_(std::move(bus)) {}

protected:
    void showItem(const std::string& path, Failure failure) override;

private:
    QDBusConnection bus_;
};

// What the window says when nothing could show `path`.
QString revealFailureText(const std::string& path);

}  // namespace corvalent
