#include "ui/processes/inspector/process_inspector.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "models/vantle_model.h"
#include "ui/processes/inspector/process_inspector_cards.h"
#include "ui/processes/inspector/process_inspector_member.h"
#include "ui/processes/inspector/process_inspector_placeholder.h"
#include "ui/processes/inspector/process_inspector_texts.h"
#include "ui/processes/process_texts.h"
#include "ui/widgets/coalesced_call.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"

namespace corvalent {

namespace {

// Rows are built a screenful or two at a time: a group of hundreds of
// processes costs only what has been scrolled to.
constexpr std::size_t rowsPerStep = 40;
constexpr int buildAhead = 600;  // pixels before the end at which more rows are built

double wallClockSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

ProcessInspector::ProcessInspector(VantleModel& model, ProcessIconStore& icons, QWidget* parent)
    : QWidget(parent), model_(model), icons_(icons)
{
    setObjectName("processInspector");
    // A sample changes figures, selection and visibility at once: one redraw.
    refreshSoon_ = new CoalescedCall(*this, [this] { refresh(); });
    // The tint fills the pane; what it shows ends where a covered foot begins.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* shown = new QWidget(this);
    column->addWidget(shown);
    stack_ = new QStackedLayout(shown);
    placeholder_ = new inspector::Placeholder;
    stack_->addWidget(placeholder_);

    // The pane's tint shows through the list of cards.
    scroll_ = transparentScrollArea(buildContent());
    scroll_->setAccessibleName(QStringLiteral("Process details"));
    stack_->addWidget(scroll_);

    auto* bar = scroll_->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &ProcessInspector::growIfNearEnd);
    connect(bar, &QScrollBar::rangeChanged, this, &ProcessInspector::growIfNearEnd);
    for (auto signal : {&VantleModel::snapshotChanged, &VantleModel::visibleChanged, &VantleModel::focusedChanged,
                        &VantleModel::selectedChanged, &VantleModel::showSystemChanged,
                        &VantleModel::showProtectedProcessesChanged})
        connect(&model_, signal, refreshSoon_, &CoalescedCall::call);
    refresh();
}

QWidget* ProcessInspector::buildContent()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24 + 100);
    column->setSpacing(0);

    header_ = new inspector::HeaderCard(icons_);
    column->addWidget(header_);
    column->addSpacing(14);

    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(8);
    tiles_ = {new inspector::StatTile(QStringLiteral("FOOTPRINT"), QStringLiteral("memorychip")),
              new inspector::StatTile(QStringLiteral("CPU"), QStringLiteral("speedometer")),
              new inspector::StatTile(QStringLiteral("PROCESSES"), QStringLiteral("square.stack.3d.up"))};
    for (auto* tile : tiles_) tiles->addWidget(tile, 1);
    column->addLayout(tiles);
    column->addSpacing(16);

    impact_ = new inspector::ImpactCard;
    column->addWidget(impact_);
    column->addSpacing(22);
    column->addWidget(new Divider(Qt::Horizontal));
    column->addSpacing(22);

    auto* heading = new QHBoxLayout;
    heading->addWidget(
        new ElidedLabel(QStringLiteral("Processes"), CorvalentStyle::font(TextStyle::headline), Tones::primary()), 1);
    related_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    related_->setObjectName("relatedCount");
    related_->setShrinks(false);
    heading->addWidget(related_);
    column->addLayout(heading);
    column->addSpacing(5);

    auto* members = new QWidget;
    members_ = new QVBoxLayout(members);
    members_->setContentsMargins(0, 0, 0, 0);
    members_->setSpacing(0);
    column->addWidget(members);
    column->addStretch(1);
    return content;
}

void ProcessInspector::setCoveredFoot(int height)
{
    layout()->setContentsMargins(0, 0, 0, height);
}

bool ProcessInspector::showsPlaceholder() const
{
    return stack_->currentWidget() == placeholder_;
}

QString ProcessInspector::endedText() const
{
    return showsPlaceholder() ? placeholder_->endedText() : QString();
}

inspector::StatTile* ProcessInspector::tile(const QString& label) const
{
    for (auto* tile : tiles_)
        if (tile->accessibleName() == label) return tile;
    return nullptr;
}

QString ProcessInspector::relatedText() const
{
    return related_->text();
}

inspector::MemberRow* ProcessInspector::row(int pid) const
{
    for (auto* row : rows_)
        if (row->id().starts_with(std::to_string(pid) + ':')) return row;
    return nullptr;
}

void ProcessInspector::refresh()
{
    const auto group = model_.detail();
    if (!group) {
        if (lastShown_ && model_.focused() != lastShown_->id) lastShown_.reset();
        placeholder_->setEnded(lastShownEnded() ? InspectorTexts::ended(lastShown_->title) : QString());
        shownID_.reset();
        stack_->setCurrentWidget(placeholder_);
        return;
    }
    lastShown_ = Shown{group->id, group->title, {}};
    lastShown_->memberIDs.reserve(group->members.size());
    for (const auto& member : group->members) lastShown_->memberIDs.push_back(member.id());
    const bool another = shownID_ != group->id;
    if (another) {
        shownID_ = group->id;
        built_ = rowsPerStep;
    }
    showGroup(*group);
    stack_->setCurrentWidget(scroll_);
    // Another group opens at its header; a new sample of the same one stays
    // where the user scrolled to.
    if (another) scroll_->verticalScrollBar()->setValue(0);
}

// The group left the list because none of its processes runs any more,
// rather than because a setting leaves it out or they joined another group.
bool ProcessInspector::lastShownEnded() const
{
    const auto& snapshot = model_.snapshot();
    if (!lastShown_ || !snapshot) return false;
    for (const auto& record : snapshot->result.records)
        if (std::ranges::find(lastShown_->memberIDs, record.id()) != lastShown_->memberIDs.end()) return false;
    return true;
}

void ProcessInspector::showGroup(const ProcessGroup& group)
{
    header_->setGroup(group);
    tiles_[0]->setValue(ProcessTexts::memory(group.memory, group.incompleteMemory));
    tiles_[1]->setValue(InspectorTexts::cpu(group.cpu));
    tiles_[2]->setValue(QString::number(group.members.size()));
    impact_->setImpact(QString::fromStdString(group.impact));
    const auto related = InspectorTexts::related(group.members.size());
    if (related_->text() != related) related_->setText(related);
    syncRows(group);
}

// Rows follow the members by id: a process keeps its row from sample to
// sample, a new one gets a row, one that ended loses it.
void ProcessInspector::syncRows(const ProcessGroup& group)
{
    std::unordered_map<std::string, inspector::MemberRow*> previous;
    for (auto* row : rows_) previous.emplace(row->id(), row);
    const auto& selected = model_.selected();
    const double now = wallClockSeconds();
    const auto count = std::min(group.members.size(), built_);
    std::vector<inspector::MemberRow*> next;
    next.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& record = group.members[i];
        const auto id = record.id();
        inspector::MemberRow* row = nullptr;
        if (const auto found = previous.find(id); found != previous.end()) {
            row = found->second;
            previous.erase(found);
        } else {
            row = new inspector::MemberRow(icons_, [this](const std::string& id, bool on) { setMember(id, on); },
                                           members_->parentWidget());
        }
        row->present(record, group, selected.count(id) == 1, now);
        next.push_back(row);
    }
    for (auto& [id, row] : previous) {
        members_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    if (next == rows_) return;
    for (auto* row : next) members_->removeWidget(row);
    for (std::size_t i = 0; i < next.size(); ++i) {
        members_->insertWidget(static_cast<int>(i), next[i]);
        next[i]->show();
    }
    rows_ = std::move(next);
    chainChecks();
}

// A row made later joins the window's Tab chain at its end, after the shelf:
// the check boxes are put back in their order, right after the details area
// and so before the shelf. Qt orders only widgets that take focus, and the
// area takes none while it has nothing to scroll.
void ProcessInspector::chainChecks()
{
    const auto policy = scroll_->focusPolicy();
    scroll_->setFocusPolicy(Qt::StrongFocus);
    QWidget* previous = scroll_;
    for (auto* row : rows_) {
        QWidget::setTabOrder(previous, &row->check());
        previous = &row->check();
    }
    scroll_->setFocusPolicy(policy);
}

void ProcessInspector::growIfNearEnd()
{
    if (!shownID_ || rows_.size() < built_) return;
    const auto* bar = scroll_->verticalScrollBar();
    if (bar->value() < bar->maximum() - buildAhead) return;
    built_ += rowsPerStep;
    refreshSoon_->call();
}

void ProcessInspector::setMember(const std::string& id, bool on)
{
    auto ids = model_.selected();
    if (on)
        ids.insert(id);
    else
        ids.erase(id);
    model_.setSelected(std::move(ids));
}

void ProcessInspector::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::withAlpha(CorvalentStyle::panel(palette()), 0.16));
}

}  // namespace corvalent
