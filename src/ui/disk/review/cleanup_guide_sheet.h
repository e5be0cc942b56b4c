#pragma once

// The read-only how-to for storage the program never cleans itself: the
// guide's steps, its optional terminal commands with a copy button each, a
// caution and the vendor's documentation. Nothing here runs a command or
// touches the disk; copying writes the command to the clipboard, nothing else.

#include <QDialog>
#include <QString>
#include <QUrl>

#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_cleanup_guides.h"

namespace corvalent {

class Button;

// The documentation address as a link target: a well-formed http or https
// address with a host, else none.
std::optional<QUrl> documentationLink(const std::optional<std::string>& address);

class DiskCleanupGuideView : public QDialog {
    Q_OBJECT

public:
    DiskCleanupGuideView(DiskCleanupGuide guide, QWidget* parent);

    // The command copied last from this sheet; it marks every row showing it.
    const std::optional<QString>& copiedCommand() const { return copiedCommand_; }
    Button& doneButton() { return *done_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct CommandRow {
        QString command;
        Button* copy;
    };

    QWidget* buildHeader();
    QWidget* buildSteps();
    QWidget* buildCommands();
    QWidget* buildCaution();
    QLayout* buildFooter();
    void copy(const QString& command);
    void showCopyMarks();

    const DiskCleanupGuide guide_;
    std::optional<QString> copiedCommand_;
    std::vector<CommandRow> commandRows_;
    Button* done_ = nullptr;
};

}  // namespace corvalent
