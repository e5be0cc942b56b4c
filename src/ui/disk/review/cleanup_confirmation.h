#pragma once

// "Move to Trash?": the last step before an item leaves the disk through
// this program. The sheet shows the reviewed item, why it was offered and
// what moving it may cause, and hands the move to the model. The item's
// identity is pinned when the sheet opens, so the item that moves is the one
// the user looked at; the sheet itself never touches the file system.

#include <QDialog>
#include <QString>

#include <chrono>
#include <optional>

#include "core/disk/disk_insights.h"
#include "core/disk/trash/disk_trash.h"
#include "models/disk_model.h"

namespace corvalent {

class Button;
class ElidedLabel;
class FileRevealer;
class MessageLine;
class ScreenFit;

namespace CleanupConfirmationTexts {

QString title();
QString subtitle();
QString trashNote();
QString moveToTrash();
QString checking();

}  // namespace CleanupConfirmationTexts

class DiskCleanupConfirmation : public QDialog {
    Q_OBJECT

public:
    DiskCleanupConfirmation(DiskModel& model, DiskCleanupCandidate candidate, FileRevealer& revealer, QWidget* parent);

    Button& revealButton() { return *reveal_; }
    Button& cancelButton() { return *cancel_; }
    Button& moveButton() { return *move_; }

private:
    QWidget* buildHeader();
    QWidget* buildItemPanel();
    QWidget* buildTrashNote();
    void prepare(bool thenMove);
    void move();
    void reveal();
    void moveEnded();
    // The model's last outcome when it is this sheet's own: of `action`,
    // newer than `since`, about this item.
    std::optional<DiskCleanupOutcome> ownOutcome(DiskCleanupOutcome::Action action, std::uint64_t since) const;
    // Shows and announces what stopped this sheet's own attempt.
    void refused(std::optional<DiskCleanupOutcome> outcome);
    // Whether the model holds a receipt of this item made since the sheet opened.
    bool movedSinceOpening() const;
    void refresh();

    DiskModel& model_;
    const DiskCleanupCandidate candidate_;
    FileRevealer& revealer_;
    const std::chrono::system_clock::time_point openedAt_;
    std::optional<DiskTrashRequest> request_;
    bool preparing_ = false;
    // The model's outcome serial when Move to Trash was pressed.
    std::uint64_t pressedAt_ = 0;
    // What refused this sheet's preparation or move, while it stands; only
    // an outcome about this item, never another item's or an earlier one.
    std::optional<DiskCleanupOutcome> refusal_;
    ElidedLabel* message_ = nullptr;
    MessageLine* revealMessage_ = nullptr;
    Button* reveal_ = nullptr;
    Button* cancel_ = nullptr;
    Button* move_ = nullptr;
    ScreenFit* screenFit_ = nullptr;
};

}  // namespace corvalent
