#include "ui/processes/list/process_list_view.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/process_texts.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/overlay_scroll_bar.h"

namespace corvalent {

ProcessListView::ProcessListView(ProcessListModel& rows, ProcessIconStore& icons, QWidget* parent)
    : QListView(parent), rows_(rows)
{
    setObjectName("processList");
    setAccessibleName(QStringLiteral("Process groups"));
    setModel(&rows_);
    delegate_ = new ProcessRowDelegate(rows_, icons, *this, focusRing_);
    setItemDelegate(delegate_);
    setFrameShape(QFrame::NoFrame);
    // The selection is the model's: readers see and toggle it row by row.
    setSelectionMode(QAbstractItemView::MultiSelection);
    auto* unused = selectionModel();
    setSelectionModel(new ProcessRowSelection(rows_));
    delete unused;
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(24);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollBar_ = new OverlayScrollBar(*this);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    // A click on the row already current inspects it too, when it was not.
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (!releasedOnGlyph_) rows_.focus(index.row());
    });
    // Only the person moves the inspector through the list: a row made
    // current while the list lacks the keyboard focus, while its rows change,
    // or by Qt of its own accord is not inspected.
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (hasFocus() && !rows_.syncing() && !unchosen_) inspectCurrent();
    });
    connect(&rows_, &ProcessListModel::synced, this, &ProcessListView::rowsSynced);
}

void ProcessListView::inspectCurrent()
{
    if (currentIndex().isValid()) rows_.focus(currentIndex().row());
}

void ProcessListView::setCurrentUnchosen(const QModelIndex& index)
{
    const bool was = std::exchange(unchosen_, true);
    setCurrentIndex(index);
    unchosen_ = was;
}

// The row after a removed current one takes its place, else the one before:
// never a row with nothing to do with it. It takes the place only: the
// inspector keeps the group the person chose, or says that it ended.
void ProcessListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    const auto current = currentIndex();
    if (!heir_ && current.isValid() && current.row() >= start && current.row() <= end) {
        if (end + 1 < rows_.rowCount())
            heir_ = rows_.row(end + 1).id;
        else if (start > 0)
            heir_ = rows_.row(start - 1).id;
    }
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

void ProcessListView::rowsSynced()
{
    if (const auto heir = std::exchange(heir_, std::nullopt))
        if (const auto row = rows_.rowOf(*heir)) setCurrentUnchosen(rows_.index(*row));
}

void ProcessListView::keyPressEvent(QKeyEvent* event)
{
    // A key on a list the pointer focused shows the ring from now on.
    if (!focusRing_.shown(*this)) focusRing_.focusIn(QFocusEvent(QEvent::FocusIn, Qt::ShortcutFocusReason));
    const auto current = currentIndex();
    switch (event->key()) {
        case Qt::Key_Space:
            if (current.isValid()) rows_.toggle(current.row());
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (current.isValid()) rows_.focus(current.row());
            event->accept();
            return;
        default: break;
    }
    QListView::keyPressEvent(event);
    viewport()->update();
}

// Clicks and keys choose through the glyph and Space, never through the view.
QItemSelectionModel::SelectionFlags ProcessListView::selectionCommand(const QModelIndex&, const QEvent*) const
{
    return QItemSelectionModel::NoUpdate;
}

void ProcessListView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    // The overlay bar places itself on a layout request; the viewport has
    // only now taken its new size.
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(this, &request);
}

// The focus coming to the list makes the inspected group's row current, so
// Space acts on the group the inspector shows; the ring shows on it at once
// when a key brought the focus. Without that row, Tab makes the first row
// current for the keys to start from, and Qt may make one current of its
// own accord: neither is the person's choice, and neither is inspected.
void ProcessListView::focusInEvent(QFocusEvent* event)
{
    const auto reason = event->reason();
    focusRing_.focusIn(*event);
    const bool byKey = reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
                       reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason;
    const bool was = std::exchange(unchosen_, true);
    if (!currentIndex().isValid() && rows_.rowCount() > 0) {
        if (const auto inspected = rows_.focusedRow())
            setCurrentIndex(rows_.index(*inspected));
        else if (byKey)
            setCurrentIndex(rows_.index(0));
    }
    QListView::focusInEvent(event);
    unchosen_ = was;
}

// The current row reads as focused to screen readers: it is kept only while
// the list has the focus, and for a menu open over it.
void ProcessListView::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QListView::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason && !hasFocus()) {
        heir_.reset();
        setCurrentUnchosen({});
    }
}

void ProcessListView::takeFocus(const std::string& id, std::optional<int> orRow)
{
    auto row = rows_.rowOf(id);
    if (!row && orRow && rows_.rowCount() > 0) row = std::clamp(*orRow, 0, rows_.rowCount() - 1);
    handFocus(*this);
    if (row) {
        setCurrentUnchosen(rows_.index(*row));
        scrollTo(currentIndex());
        // The program's choice stands for the person's: the inspector shows
        // the row the focus rests on, so the next Space chooses what it shows.
        inspectCurrent();
    }
    viewport()->update();
}

void ProcessListView::setCoveredFoot(int height)
{
    coveredFoot_ = height;
    delegate_->setCoveredFoot(height);
    scrollBar_->setBottomInset(height);
}

void ProcessListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    QListView::scrollTo(index, hint);
    if (!index.isValid() || coveredFoot_ <= 0 || (hint != EnsureVisible && hint != PositionAtBottom)) return;
    // The row itself, and the gap rows keep between them, rise clear of the
    // foot, as long as the row's top stays in view.
    const auto row = delegate_->rowRect(visualRect(index), index.row());
    const double below = row.bottom() + ProcessRowDelegate::rowSpacing - (viewport()->height() - coveredFoot_);
    const int rise = static_cast<int>(std::ceil(std::min(below, row.top())));
    if (rise > 0) verticalScrollBar()->setValue(verticalScrollBar()->value() + rise);
}

void ProcessListView::mousePressEvent(QMouseEvent* event)
{
    focusRing_.focusOut();
    QListView::mousePressEvent(event);
}

// The view reports a click on the glyph as a click on the row too; the glyph
// is a button of its own, which selects without focusing.
void ProcessListView::mouseReleaseEvent(QMouseEvent* event)
{
    const auto position = event->position().toPoint();
    const auto index = indexAt(position);
    releasedOnGlyph_ = index.isValid() && rows_.glyph(index.row()) != ProcessTexts::Glyph::locked &&
                       delegate_->glyphRect(visualRect(index), index.row()).contains(position);
    QListView::mouseReleaseEvent(event);
    releasedOnGlyph_ = false;
}

void ProcessListView::mouseMoveEvent(QMouseEvent* event)
{
    hoverAt(event->position().toPoint());
    QListView::mouseMoveEvent(event);
}

bool ProcessListView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) delegate_->setHovered(std::nullopt);
    return QListView::viewportEvent(event);
}

// The row under the pointer, by id, so that a refresh that moves rows keeps it.
void ProcessListView::hoverAt(const QPoint& position)
{
    const auto index = indexAt(position);
    if (!index.isValid() || !delegate_->rowRect(visualRect(index), index.row()).contains(position)) {
        delegate_->setHovered(std::nullopt);
        return;
    }
    delegate_->setHovered(rows_.row(index.row()).id);
}

}  // namespace corvalent
