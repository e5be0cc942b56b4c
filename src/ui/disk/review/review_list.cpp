#include "ui/disk/review/review_list.h"

#include <QAbstractButton>
#include <QVBoxLayout>

#include <algorithm>

#include "models/disk_model.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/disk/review/review_cards.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

// Under the other slots when the last scan offered nothing.
QWidget* buildEmptyPanel(QWidget* parent)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName("reviewEmpty");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(8);
    column->addWidget(new SymbolView("checkmark.shield", 20, Tones::fixed(CorvalentStyle::teal()), {22, 22}), 0,
                      Qt::AlignHCenter);
    auto* title = new ElidedLabel(QStringLiteral("No large actions to review"),
                                  CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    auto* detail = new ElidedLabel(
        QStringLiteral("The map may still contain smaller files. Corvalent only suggests measured items it can explain."),
        CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    detail->setAlignment(Qt::AlignCenter);
    detail->setWordWrap(true);
    column->addWidget(detail);
    panel->setAccessibleName(title->text());
    return panel;
}

}  // namespace

ReviewList::ReviewList(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent)
    : QWidget(parent), model_(model), context_{model, state, revealer}
{
    setObjectName("reviewList");
    // The sidebar's list padding and spacing: the slots are the list's entries.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(4);
    status_ = new CleanupStatusCard(model, this);
    rescue_ = new RescueCard(this);
    active_ = new ActiveStorageCard(this);
    duplicates_ = new DuplicateCard(model, state, revealer, this);
    trash_ = new RecentTrashCard(model, this);
    candidates_ = new QWidget(this);
    candidateColumn_ = new QVBoxLayout(candidates_);
    candidateColumn_->setContentsMargins(0, 0, 0, 0);
    candidateColumn_->setSpacing(4);
    empty_ = buildEmptyPanel(this);
    for (auto* slot : {static_cast<QWidget*>(status_), static_cast<QWidget*>(rescue_), static_cast<QWidget*>(active_),
                       static_cast<QWidget*>(duplicates_), static_cast<QWidget*>(trash_), candidates_, empty_}) {
        slot->hide();
        column->addWidget(slot);
    }
    column->addStretch(1);

    for (auto signal : {&DiskModel::resultChanged, &DiskModel::insightsChanged, &DiskModel::trashChanged})
        connect(&model, signal, this, &ReviewList::sync);
    sync();
}

// Every slot is decided from the model as it is now; cards take new data
// only when it differs from what they show.
void ReviewList::sync()
{
    const bool status = model_.mapNeedsRefresh() || model_.cleanupMessage().has_value();
    if (status) status_->present(model_.mapNeedsRefresh(), model_.cleanupMessage());
    status_->setVisible(status);

    const auto& plan = model_.rescuePlan();
    if (plan) rescue_->present(*plan);
    rescue_->setVisible(plan.has_value());

    const auto& summaries = model_.activeStorageSummaries();
    if (!summaries.empty()) active_->present(summaries);
    active_->setVisible(!summaries.empty());

    const auto& result = model_.result();
    duplicates_->setVisible(result && !result->potentialDuplicateGroups.empty());

    const auto& receipts = model_.recentTrash();
    if (!receipts.empty()) trash_->present(receipts, model_.cleanupInProgress());
    trash_->setVisible(!receipts.empty());

    syncCandidates();
    chainFocus();
    settleFocus();
}

void ReviewList::syncCandidates()
{
    const auto& candidates = model_.cleanupCandidates();
    // The card that holds the focus, should it leave.
    const auto focused = std::ranges::find_if(rows_, [](CleanupRow* row) { return holdsFocus(*row); });
    std::vector<CleanupRow*> next;
    next.reserve(candidates.size());
    std::unordered_map<std::string, CleanupRow*> kept;
    for (const auto& candidate : candidates) {
        if (kept.contains(candidate.path)) continue;
        CleanupRow* row = nullptr;
        if (const auto found = rowsByPath_.find(candidate.path); found != rowsByPath_.end()) {
            row = found->second;
            rowsByPath_.erase(found);
            row->setCandidate(candidate);
        } else {
            row = new CleanupRow(candidate, context_, candidates_);
        }
        kept.emplace(candidate.path, row);
        next.push_back(row);
    }
    // The focus is put down before its card goes, so that hiding the card
    // does not pass it along the window's chain, and handed on below: to
    // the next card that stays, else the one before.
    const bool focusLeaves = focused != rows_.end() && !kept.contains((*focused)->candidate().path);
    CleanupRow* successor = nullptr;
    if (focusLeaves) {
        window()->focusWidget()->clearFocus();
        const auto stays = [&kept](CleanupRow* row) { return kept.contains(row->candidate().path); };
        const auto after = std::find_if(std::next(focused), rows_.end(), stays);
        const auto before = std::find_if(std::make_reverse_iterator(focused), rows_.rend(), stays);
        successor = after != rows_.end() ? *after : before != rows_.rend() ? *before : nullptr;
    }
    // What is left was moved or is no longer offered. A menu may be open on
    // it: its actions hold copies, and the card goes once events are done.
    for (const auto& [path, row] : rowsByPath_) {
        candidateColumn_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rowsByPath_ = std::move(kept);
    for (int i = 0; i < static_cast<int>(next.size()); ++i) {
        auto* item = candidateColumn_->itemAt(i);
        if (item != nullptr && item->widget() == next[static_cast<std::size_t>(i)]) continue;
        candidateColumn_->removeWidget(next[static_cast<std::size_t>(i)]);
        candidateColumn_->insertWidget(i, next[static_cast<std::size_t>(i)]);
        next[static_cast<std::size_t>(i)]->show();
    }
    rows_ = std::move(next);
    candidates_->setVisible(!rows_.empty());
    empty_->setVisible(rows_.empty());
    if (focusLeaves) passFocusOn(successor);
}

// To a card's action (its review, or for a protected item its reveal);
// with no card left, to the Undo of what moved last.
void ReviewList::passFocusOn(CleanupRow* row)
{
    QWidget* to = nullptr;
    if (row != nullptr) {
        to = row->reviewButton().isHidden() ? static_cast<QWidget*>(&row->revealButton()) : &row->reviewButton();
    } else if (!trash_->undoButtons().empty()) {
        to = trash_->undoButtons().front();
    }
    pendingFocus_ = to;
    settleFocus();
}

// An Undo stays off until the move that made it has ended: the focus waits
// for it, as long as nothing else took the focus meanwhile.
void ReviewList::settleFocus()
{
    if (pendingFocus_.isNull()) return;
    if (window()->focusWidget() != nullptr) {
        pendingFocus_ = nullptr;
        return;
    }
    if (!pendingFocus_->isEnabled()) return;
    handFocus(*pendingFocus_);
    pendingFocus_ = nullptr;
}

// Tab follows the list from top to bottom, also through cards made later.
void ReviewList::chainFocus()
{
    std::vector<QWidget*> order{status_, rescue_, active_, duplicates_, trash_};
    order.insert(order.end(), rows_.begin(), rows_.end());
    std::vector<QPointer<QAbstractButton>> chain;
    for (auto* slot : order)
        for (auto* button : slot->findChildren<QAbstractButton*>())
            if ((button->focusPolicy() & Qt::TabFocus) != 0 && !button->isHidden()) chain.emplace_back(button);
    if (chain == focusChain_) return;
    focusChain_ = chain;
    for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

std::vector<QWidget*> ReviewList::shownSlots() const
{
    std::vector<QWidget*> shown;
    for (auto* slot : {static_cast<QWidget*>(status_), static_cast<QWidget*>(rescue_), static_cast<QWidget*>(active_),
                       static_cast<QWidget*>(duplicates_), static_cast<QWidget*>(trash_)})
        if (slot->isVisibleTo(this)) shown.push_back(slot);
    if (candidates_->isVisibleTo(this)) shown.insert(shown.end(), rows_.begin(), rows_.end());
    if (empty_->isVisibleTo(this)) shown.push_back(empty_);
    return shown;
}

}  // namespace corvalent
