#include "ui/disk/review/review_list.h"

#include <QAbstractButton>
#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

#include "models/disk_model.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/sidebar/duplicate_card.h"
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
        QStringLiteral(
            "The map may still contain smaller files. Corvalent only suggests measured items it can explain."),
        CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    detail->setAlignment(Qt::AlignCenter);
    detail->setWordWrap(true);
    column->addWidget(detail);
    panel->setAccessibleName(title->text());
    return panel;
}

// What a focused control keeps from the edges of its scroll area's view.
constexpr int focusMargin = 10;

// The scroll area the list is the content of.
QScrollArea* scrollAreaAround(QWidget& list)
{
    for (auto* above = list.parentWidget(); above != nullptr; above = above->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(above);
            area != nullptr && area->widget() != nullptr &&
            (area->widget() == &list || area->widget()->isAncestorOf(&list)))
            return area;
    return nullptr;
}

int topIn(QWidget& widget, QWidget& view)
{
    return widget.mapTo(&view, QPoint()).y();
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
    trash_->setUndoPressed([this] { holdTrashCard(); });
    outcome_ = new CleanupOutcomeLine(this);
    candidates_ = new QWidget(this);
    candidateColumn_ = new QVBoxLayout(candidates_);
    candidateColumn_->setContentsMargins(0, 0, 0, 0);
    candidateColumn_->setSpacing(4);
    empty_ = buildEmptyPanel(this);
    for (auto* slot : {static_cast<QWidget*>(status_), static_cast<QWidget*>(rescue_), static_cast<QWidget*>(active_),
                       static_cast<QWidget*>(duplicates_), static_cast<QWidget*>(trash_),
                       static_cast<QWidget*>(outcome_), candidates_, empty_}) {
        slot->hide();
        column->addWidget(slot);
    }
    column->addStretch(1);

    // After the cards' own connections, so that the list sees them as they are now.
    for (QObject* moving :
         {static_cast<QObject*>(this), static_cast<QObject*>(trash_), static_cast<QObject*>(outcome_)})
        moving->installEventFilter(this);
    for (auto signal : {&DiskModel::resultChanged, &DiskModel::insightsChanged, &DiskModel::trashChanged,
                        &DiskModel::duplicatesChanged})
        connect(&model, signal, this, &ReviewList::sync);
    sync();
}

// Every slot is decided from the model as it is now; cards take new data
// only when it differs from what they show.
void ReviewList::sync()
{
    // A focused control in sight stays in sight while cards come, go and
    // grow above it.
    auto* held = window()->focusWidget();
    const bool heldInSight = held != nullptr && isAncestorOf(held) && !held->visibleRegion().isEmpty();
    const bool status = model_.mapNeedsRefresh() || model_.cleanupMessage().has_value();
    // While a move or restore runs the model has no message: the card keeps
    // its height, so that nothing under it jumps up and back.
    if (model_.cleanupInProgress() && status_->isVisible())
        status_->setMinimumHeight(status_->height());
    else if (!model_.cleanupInProgress())
        status_->setMinimumHeight(0);
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

    // An Undo pressed turns every Undo off until its restore has ended: the
    // focus waits for that, then goes to the Undo now in its place, else the
    // one before, else the first card, else the offer to rescan.
    const auto& receipts = model_.recentTrash();
    if (!undoFocus_.from() && model_.cleanupInProgress()) undoFocus_ = FocusHandOn(trash_->undoButtons());
    if (!receipts.empty()) trash_->present(receipts, model_.cleanupInProgress());
    trash_->setVisible(!receipts.empty());

    const auto movedAt = syncCandidates();
    const auto& outcome = model_.cleanupOutcome();
    using Action = DiskCleanupOutcome::Action;
    if (outcome.action == Action::none) {
        outcome_->hide();
        outcomeAt_.reset();
        heldAt_.reset();
    } else if (outcome.serial != shownOutcome_ &&
               ((outcome.action == Action::move && outcome.succeeded) || outcome.action == Action::restore)) {
        shownOutcome_ = outcome.serial;
        placeOutcome(outcome.action == Action::move ? movedAt : std::nullopt);
    }
    if (undoFocus_.from() && !model_.cleanupInProgress()) {
        const auto& undo = trash_->undoButtons();
        const auto at = std::min(*undoFocus_.from(), undo.size());
        undoFocus_.handTo({at < undo.size() ? undo[at] : nullptr, at > 0 ? undo[at - 1] : nullptr,
                           rows_.empty() ? nullptr : &action(*rows_.front()), &status_->rescanButton()});
        undoFocus_ = {};
    }
    // The focus a verified copy's move took from the duplicates, when no copy
    // is left to take it: the first card, else the Undo of what moved last.
    if (auto fromCopies = duplicates_->takeFocusLeft(); fromCopies.from())
        fromCopies.handTo({rows_.empty() ? nullptr : &action(*rows_.front()), firstUndo()});
    chainFocus();
    if (heldInSight && window()->focusWidget() == held) bringIntoView(*held);
}

std::optional<int> ReviewList::syncCandidates()
{
    const auto& candidates = model_.cleanupCandidates();
    std::unordered_set<std::string> offered;
    for (const auto& candidate : candidates) offered.insert(candidate.path);
    const auto stays = [&offered](CleanupRow* row) { return offered.contains(row->candidate().path); };
    std::optional<int> movedAt;
    if (const auto& outcome = model_.cleanupOutcome();
        outcome.serial != shownOutcome_ && outcome.action == DiskCleanupOutcome::Action::move && outcome.succeeded) {
        int above = 0;
        for (auto* row : rows_) {
            if (row->candidate().path == outcome.path && !stays(row)) {
                movedAt = above;
                break;
            }
            if (stays(row)) ++above;
        }
    }
    // The focus of a card that goes is handed on below: to the next card
    // that stays, else the one before, else the Undo of what moved last.
    FocusHandOn focus(rows_, [&stays](CleanupRow* row) { return !stays(row); });
    CleanupRow* successor = nullptr;
    if (const auto at = focus.from()) {
        const auto held = rows_.begin() + static_cast<std::ptrdiff_t>(*at);
        const auto after = std::find_if(std::next(held), rows_.end(), stays);
        const auto before = std::find_if(std::make_reverse_iterator(held), rows_.rend(), stays);
        successor = after != rows_.end() ? *after : before != rows_.rend() ? *before : nullptr;
    }
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
    // What is left was moved or is no longer offered. A menu may be open on
    // it: its actions hold copies, and the card goes once events are done.
    for (const auto& [path, row] : rowsByPath_) {
        candidateColumn_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rowsByPath_ = std::move(kept);
    // The outcome keeps its place among the cards; they are ordered without it.
    const bool outcomeHere = candidateColumn_->indexOf(outcome_) >= 0;
    if (outcomeHere) candidateColumn_->removeWidget(outcome_);
    for (int i = 0; i < static_cast<int>(next.size()); ++i) {
        auto* item = candidateColumn_->itemAt(i);
        if (item != nullptr && item->widget() == next[static_cast<std::size_t>(i)]) continue;
        candidateColumn_->removeWidget(next[static_cast<std::size_t>(i)]);
        candidateColumn_->insertWidget(i, next[static_cast<std::size_t>(i)]);
        next[static_cast<std::size_t>(i)]->show();
    }
    rows_ = std::move(next);
    if (outcomeHere) candidateColumn_->insertWidget(std::min(outcomeAt_.value_or(0), int(rows_.size())), outcome_);
    candidates_->setVisible(!rows_.empty());
    empty_->setVisible(rows_.empty());
    // An Undo stays off until the move that made it has ended: the focus waits for it.
    focus.handTo({successor != nullptr ? &action(*successor) : nullptr, firstUndo()});
    return rows_.empty() ? std::nullopt : movedAt;
}

void ReviewList::placeOutcome(std::optional<int> removedAt)
{
    auto& column = *static_cast<QVBoxLayout*>(layout());
    column.removeWidget(outcome_);
    candidateColumn_->removeWidget(outcome_);
    outcomeAt_ = removedAt;
    if (removedAt) {
        // A move from a card: the next card's action has the focus, the outcome stands just above it.
        heldAt_.reset();
        outcome_->setParent(candidates_);
        candidateColumn_->insertWidget(*removedAt, outcome_);
    } else {
        outcome_->setParent(this);
        column.insertWidget(column.indexOf(trash_) + 1, outcome_);
    }
    outcome_->present(model_.cleanupOutcome());
    keepHeld();
}

void ReviewList::holdTrashCard()
{
    auto* area = scrollAreaAround(*this);
    if (area == nullptr || !trash_->isVisible()) return;
    if (!watchingScroll_) {
        // Held until the person scrolls.
        watchingScroll_ = true;
        area->viewport()->installEventFilter(this);
        connect(area->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { heldAt_.reset(); });
    }
    heldAt_ = topIn(*trash_, *area->viewport());
}

bool ReviewList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        heldAt_.reset();
    } else if (heldAt_ && !keepPending_ && watched != nullptr && !watched->inherits("QScrollBar")) {
        const auto type = event->type();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::LayoutRequest || type == QEvent::Show ||
            type == QEvent::Hide) {
            keepPending_ = true;
            // After the layouts have placed everything for the change at hand.
            QMetaObject::invokeMethod(
                this, [this] { keepHeld(); }, Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The Trash card's top where it was held, or the outcome's in its place when
// the last receipt went; the outcome under the card shows whole.
void ReviewList::keepHeld()
{
    keepPending_ = false;
    auto* area = scrollAreaAround(*this);
    if (!heldAt_ || area == nullptr) return;
    auto& view = *area->viewport();
    QWidget* anchor = trash_->isVisible() ? static_cast<QWidget*>(trash_) : outcome_->isVisible() ? outcome_ : nullptr;
    if (anchor == nullptr) return;
    const int top = topIn(*anchor, view);
    int wanted = *heldAt_;
    if (outcome_->isVisible() && outcome_->parentWidget() == this) {
        const int below = topIn(*outcome_, view) + outcome_->height() - top;
        wanted = std::max(0, std::min(wanted, view.height() - below));
    }
    // The focused control, kept in view by its own keeper, shows whole too.
    if (auto* focused = window()->focusWidget(); focused != nullptr && isAncestorOf(focused) && focused->isVisible()) {
        const int above = topIn(*focused, view) - top;
        wanted =
            std::max(std::min(wanted, view.height() - focusMargin - above - focused->height()), focusMargin - above);
    }
    auto& bar = *area->verticalScrollBar();
    bar.setValue(bar.value() + top - wanted);
}

// A card's action: its review, or for a protected item its reveal.
QWidget& ReviewList::action(CleanupRow& row)
{
    if (row.reviewButton().isHidden()) return row.revealButton();
    return row.reviewButton();
}

QWidget* ReviewList::firstUndo() const
{
    const auto& undo = trash_->undoButtons();
    return undo.empty() ? nullptr : undo.front();
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
