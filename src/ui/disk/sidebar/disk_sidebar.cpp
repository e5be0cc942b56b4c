#include "ui/disk/sidebar/disk_sidebar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "models/disk_model.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/storage_facts.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/segmented_control.h"

namespace corvalent {
namespace {

// Around the header; tighter while its title gives way on a short page.
constexpr QMargins headerMargins(20, 20, 20, 20);
constexpr QMargins foldedMargins(20, 12, 20, 12);

constexpr std::array modes{DiskSidebarMode::breakdown, DiskSidebarMode::cleanup, DiskSidebarMode::largestFiles,
                           DiskSidebarMode::storageFacts};

int indexOf(DiskSidebarMode mode)
{
    return static_cast<int>(mode);
}

// A list's rows, 4 apart, inside 10 px of padding, kept at the top.
QVBoxLayout* rowColumn(QWidget* content)
{
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(4);
    column->addStretch(1);
    return column;
}

// Rows go once the events that reach them now are done: a click on a
// folder's row rebuilds the list from inside that row's own handler.
template <typename Row>
void clearRows(std::vector<Row*>& rows)
{
    for (auto* row : rows) {
        row->parentWidget()->layout()->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows.clear();
}

// The row at `at`, or the last; none in an empty list.
template <typename Row>
QWidget* rowAt(const std::vector<Row*>& rows, std::size_t at)
{
    return rows.empty() ? nullptr : rows[std::min(at, rows.size() - 1)];
}

}  // namespace

DiskSidebar::DiskSidebar(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent)
    : QWidget(parent), model_(model), state_(state), context_{model, state, revealer}
{
    setObjectName("diskSidebar");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(new Divider(Qt::Horizontal));
    lists_ = new QStackedWidget(this);
    column->addWidget(lists_, 1);
    footnote_ = new ScanFootnote(this);
    column->addWidget(footnote_);

    auto* breakdown = new QWidget;
    breakdownColumn_ = rowColumn(breakdown);
    addModeList(DiskSidebarMode::breakdown, breakdown);
    addModeList(DiskSidebarMode::cleanup, new ReviewList(model_, state_, revealer));
    auto* files = new QWidget;
    filesColumn_ = rowColumn(files);
    addModeList(DiskSidebarMode::largestFiles, files);
    addModeList(DiskSidebarMode::storageFacts, new StorageFactsPanel(model_));

    connect(&model_, &DiskModel::resultPublished, this, [this] {
        ++resultSerial_;
        sync();
    });
    for (auto signal : {&DiskModel::resultChanged, &DiskModel::insightsChanged, &DiskModel::trashChanged})
        connect(&model_, signal, this, &DiskSidebar::sync);
    connect(&state_, &DiskViewState::focusedNodeIDChanged, this, &DiskSidebar::sync);
    connect(&state_, &DiskViewState::hoveredIDChanged, this, &DiskSidebar::syncHover);
    connect(&state_, &DiskViewState::sidebarModeChanged, this, &DiskSidebar::showMode);
    lists_->setCurrentIndex(indexOf(state_.sidebarMode()));
    picker_->setCurrent(indexOf(state_.sidebarMode()));
    resultSerial_ = 1;  // nothing is built yet
    sync();
}

QWidget* DiskSidebar::buildHeader()
{
    header_ = new QWidget(this);
    auto* column = new QVBoxLayout(header_);
    column->setContentsMargins(headerMargins);
    column->setSpacing(5);
    titleBlock_ = new QWidget(header_);
    auto* titles = new QVBoxLayout(titleBlock_);
    titles->setContentsMargins(0, 0, 0, 10);
    titles->setSpacing(5);
    title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::title3, QFont::DemiBold), Tones::primary());
    title_->setObjectName("sidebarTitle");
    titles->addWidget(title_);
    auto* subtitle = new QHBoxLayout;
    subtitle->setContentsMargins(0, 0, 0, 0);
    subtitle->setSpacing(7);
    for (std::size_t i = 0; i < subtitle_.size(); ++i) {
        subtitle_[i] = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        // Only the last part gives way when the column is narrow.
        subtitle_[i]->setShrinks(i + 1 == subtitle_.size());
        subtitle->addWidget(subtitle_[i]);
    }
    subtitle->addStretch(1);
    titles->addLayout(subtitle);
    column->addWidget(titleBlock_);
    picker_ = new SegmentedControl(QStringLiteral("Disk list"), header_);
    for (const auto mode : modes) picker_->addSegment(sidebarModeLabel(mode), {}, indexOf(mode));
    connect(picker_, &SegmentedControl::chosen, this,
            [this](int id) { state_.setSidebarMode(static_cast<DiskSidebarMode>(id)); });
    column->addWidget(picker_);
    return header_;
}

int DiskSidebar::fullHeightAroundList() const
{
    const int divider = 1;
    const int footnote = footnote_->isVisibleTo(this) ? shownHeight(*footnote_, width()) : 0;
    return headerMargins.top() + shownHeight(*titleBlock_, titleBlock_->width()) + header_->layout()->spacing() +
           shownHeight(*picker_, picker_->width()) + headerMargins.bottom() + divider + footnote;
}

int DiskSidebar::titleSaving() const
{
    return shownHeight(*titleBlock_, titleBlock_->width()) + header_->layout()->spacing() + headerMargins.top() +
           headerMargins.bottom() - foldedMargins.top() - foldedMargins.bottom();
}

void DiskSidebar::setTitleShown(bool shown)
{
    titleBlock_->setVisible(shown);
    header_->layout()->setContentsMargins(shown ? headerMargins : foldedMargins);
}

void DiskSidebar::addModeList(DiskSidebarMode mode, QWidget* content)
{
    content->setObjectName(QStringLiteral("sidebarList") + sidebarModeLabel(mode));
    contents_[indexOf(mode)] = content;
    auto* area = transparentScrollArea(content);
    area->setAccessibleName(sidebarModeLabel(mode) + QStringLiteral(" list"));
    lists_->addWidget(area);
}

QWidget& DiskSidebar::modeContent(DiskSidebarMode mode) const
{
    return *contents_[indexOf(mode)];
}

QWidget& DiskSidebar::currentContent() const
{
    return modeContent(state_.sidebarMode());
}

QString DiskSidebar::title() const
{
    return title_->text();
}

QStringList DiskSidebar::subtitle() const
{
    QStringList parts;
    for (auto* part : subtitle_)
        if (!part->text().isEmpty()) parts << part->text();
    return parts;
}

// Only what changed is rebuilt: most changes of the model touch neither the
// result nor the focus, and hover never rebuilds.
void DiskSidebar::sync()
{
    const auto& result = model_.result();
    if (result.has_value() != hadResult_) {
        hadResult_ = result.has_value();
        ++resultSerial_;
    }
    const auto* focused = state_.focusedNode(result);
    const bool newResult = resultSerial_ != builtSerial_;
    // Every move to the Trash puts a new receipt first, every restore takes one away.
    const auto& receipts = model_.recentTrash();
    const auto trash = std::pair(receipts.size(), receipts.empty() ? std::string() : receipts.front().id);
    const bool trashChanged = trash != builtTrash_;
    if (newResult || trashChanged || focused != builtFocus_) rebuildBreakdown(focused);
    if (newResult || trashChanged) rebuildFiles();
    if (newResult) footnote_->setResult(result ? &*result : nullptr);
    builtFocus_ = focused;
    builtSerial_ = resultSerial_;
    builtTrash_ = trash;
    syncHeader();
}

void DiskSidebar::syncHeader()
{
    QString title;
    QStringList parts;
    const auto measured = [&parts](const DiskNode* node) {
        parts << bytesText(node ? node->bytes : 0) << QStringLiteral("\u00b7")
              << groupedCount(node ? node->fileCount : 0) + QStringLiteral(" files measured");
    };
    switch (state_.sidebarMode()) {
    case DiskSidebarMode::breakdown: {
        const auto* focused = state_.focusedNode(model_.result());
        title = focused ? QString::fromStdString(focused->name) : QString();
        measured(focused);
        break;
    }
    case DiskSidebarMode::cleanup: {
        const auto& candidates = model_.cleanupCandidates();
        const auto actions = std::count_if(candidates.begin(), candidates.end(),
                                           [](const DiskCleanupCandidate& c) { return c.canMoveToTrash(); });
        title = QStringLiteral("Space to review");
        parts << groupedCount(actions) + QStringLiteral(" actions") << QStringLiteral("\u00b7")
              << QStringLiteral("Nothing moves without approval");
        break;
    }
    case DiskSidebarMode::largestFiles: {
        const auto& result = model_.result();
        title = QStringLiteral("Largest files");
        measured(result ? &result->root : nullptr);
        break;
    }
    case DiskSidebarMode::storageFacts:
        title = QStringLiteral("Storage accounting");
        parts << QStringLiteral("Measured and filesystem totals");
        break;
    }
    title_->setText(title);
    for (std::size_t i = 0; i < subtitle_.size(); ++i) {
        const bool shown = static_cast<qsizetype>(i) < parts.size();
        subtitle_[i]->setText(shown ? parts[static_cast<qsizetype>(i)] : QString());
        subtitle_[i]->setVisible(shown);
    }
}

void DiskSidebar::syncHover()
{
    const auto& hovered = state_.hoveredID();
    for (auto* row : breakdownRows_) row->setHovered(hovered && *hovered == row->id());
}

// A new mode replaces the list as a whole, cross-faded.
void DiskSidebar::showMode()
{
    const int index = indexOf(state_.sidebarMode());
    picker_->setCurrent(index);
    if (lists_->currentIndex() != index) {
        AppMotion::fadeOutCover(lists_, CorvalentStyle::windowBackground(palette()));
        lists_->setCurrentIndex(index);
    }
    syncHeader();
}

void DiskSidebar::rebuildBreakdown(const DiskNode* focused)
{
    FocusHandOn focus(breakdownRows_);
    const auto heldID = focus.from() ? breakdownRows_[*focus.from()]->id() : std::string();
    clearRows(breakdownRows_);
    if (focused == nullptr) return;
    const auto total = std::max<std::uint64_t>(focused->bytes, 1);
    auto* content = contents_[indexOf(DiskSidebarMode::breakdown)];
    int index = 0;  // the child's place, which picks its colour
    int position = 0;
    for (const auto& child : focused->children) {
        // Moved since the scan: gone from the list, though the map still holds it.
        if (child.path && child.isDirectory && model_.movedSinceScan(*child.path)) {
            ++index;
            continue;
        }
        auto* row = new DiskBreakdownRow(child, index++, total, context_, content);
        breakdownColumn_->insertWidget(position++, row);
        breakdownRows_.push_back(row);
    }
    syncHover();
    if (!focus.from()) return;
    // Into a folder: its first row. Otherwise the same item, else the row
    // now in its place, else the last.
    const bool into = focused != builtFocus_;
    const auto same = std::ranges::find(breakdownRows_, heldID, &DiskBreakdownRow::id);
    focus.handTo({!into && same != breakdownRows_.end() ? *same : nullptr,
                  rowAt(breakdownRows_, into ? 0 : *focus.from()), picker_->segment(picker_->current())});
}

void DiskSidebar::rebuildFiles()
{
    FocusHandOn focus(fileRows_);
    const auto heldPath = focus.from() ? fileRows_[*focus.from()]->path() : std::string();
    clearRows(fileRows_);
    const auto& result = model_.result();
    if (!result) return;
    auto* content = contents_[indexOf(DiskSidebarMode::largestFiles)];
    int rank = 0;
    for (const auto& file : result->largestFiles) {
        if (model_.movedSinceScan(file.path)) continue;
        auto* row = new LargestFileRow(file, rank + 1, context_, content);
        filesColumn_->insertWidget(rank++, row);
        fileRows_.push_back(row);
    }
    if (!focus.from()) return;
    const auto same = std::ranges::find(fileRows_, heldPath, &LargestFileRow::path);
    focus.handTo({same != fileRows_.end() ? *same : nullptr, rowAt(fileRows_, *focus.from()),
                  picker_->segment(picker_->current())});
}

void DiskSidebar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::withAlpha(CorvalentStyle::panel(palette()), 0.22));
}

}  // namespace corvalent
