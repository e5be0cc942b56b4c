#pragma once

// The sidebar's Review mode: up to six slots, each shown only while the
// model has something for it — the last cleanup's status, the free-space
// plan, the running work's storage, possible duplicates, what moved to the
// Trash this session, and the cleanup candidates (or a short panel when
// there are none). It follows the model; a card is given new data only when
// its data changed, and candidate cards are kept by path and updated in place.

#include <QPointer>
#include <QWidget>

#include <string>
#include <unordered_map>
#include <vector>

#include "ui/disk/sidebar/disk_rows.h"
#include "ui/widgets/focus_handoff.h"

class QAbstractButton;
class QVBoxLayout;

namespace corvalent {

class ActiveStorageCard;
class CleanupRow;
class CleanupStatusCard;
class DiskModel;
class DiskViewState;
class DuplicateCard;
class FileRevealer;
class RecentTrashCard;
class RescueCard;

class ReviewList : public QWidget {
public:
    ReviewList(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent = nullptr);

    // The slots shown now, top to bottom; each candidate card is one.
    std::vector<QWidget*> shownSlots() const;
    CleanupStatusCard& statusCard() const { return *status_; }
    RescueCard& rescueCard() const { return *rescue_; }
    ActiveStorageCard& activeStorageCard() const { return *active_; }
    DuplicateCard& duplicateCard() const { return *duplicates_; }
    RecentTrashCard& recentTrashCard() const { return *trash_; }
    const std::vector<CleanupRow*>& rows() const { return rows_; }
    QWidget& emptyPanel() const { return *empty_; }

private:
    void sync();
    void syncCandidates();
    void chainFocus();
    static QWidget& action(CleanupRow& row);
    QWidget* firstUndo() const;

    DiskModel& model_;
    DiskRowContext context_;
    CleanupStatusCard* status_;
    RescueCard* rescue_;
    ActiveStorageCard* active_;
    DuplicateCard* duplicates_;
    RecentTrashCard* trash_;
    QWidget* candidates_;
    QVBoxLayout* candidateColumn_;
    QWidget* empty_;
    std::vector<CleanupRow*> rows_;
    std::unordered_map<std::string, CleanupRow*> rowsByPath_;
    // The keyboard order last set: every button of the list, as laid out.
    std::vector<QPointer<QAbstractButton>> focusChain_;
    // The focus an Undo held, until its restore has ended.
    FocusHandOn undoFocus_;
};

}  // namespace corvalent
