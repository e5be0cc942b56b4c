#pragma once

// The sidebar's Review mode: up to six slots, each shown only while the
// model has something for it — the last cleanup's status, the free-space
// plan, the running work's storage, possible duplicates, what moved to the
// Trash this session, and the cleanup candidates (or a short panel when
// there are none). It follows the model; a card is given new data only when
// its data changed, and candidate cards are kept by path and updated in place.

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/disk/sidebar/disk_rows.h"
#include "ui/widgets/focus_handoff.h"

class QAbstractButton;
class QVBoxLayout;

namespace corvalent {

class ActiveStorageCard;
class CleanupOutcomeLine;
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
    // What the last move from the list, or the last Undo, came to.
    CleanupOutcomeLine& outcomeLine() const { return *outcome_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sync();
    // Where the card of a move just made was, among the cards that stay.
    std::optional<int> syncCandidates();
    void chainFocus();
    static QWidget& action(CleanupRow& row);
    QWidget* firstUndo() const;
    // Puts a new outcome where it was asked for: a move's where its card
    // was (at `removedAt` of the candidates), an Undo's under the Trash card.
    void placeOutcome(std::optional<int> removedAt);
    // From an Undo pressed until the person scrolls: the Trash card (or the
    // outcome in its place) stays where it was in view while the cards
    // above it change, the outcome shown under it.
    void holdTrashCard();
    void keepHeld();

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
    CleanupOutcomeLine* outcome_;
    std::uint64_t shownOutcome_ = 0;
    // Among the candidates: how many cards stand above the outcome.
    std::optional<int> outcomeAt_;
    // Where the Trash card's top is held in its scroll area's view, while held.
    std::optional<int> heldAt_;
    bool keepPending_ = false;
    bool watchingScroll_ = false;
};

}  // namespace corvalent
