#include "ui/processes/list/process_list_model.h"

#include <QTimer>

#include <algorithm>
#include <numeric>
#include <utility>

#include "models/vantle_model.h"
#include "ui/processes/icons/process_icon_store.h"

namespace corvalent {

ProcessRow processRow(const ProcessGroup& group)
{
    ProcessRow row;
    row.id = group.id;
    row.title = group.title;
    row.subtitle = group.subtitle;
    row.symbol = group.symbol;
    row.iconPath = ProcessIconSource::group(group);
    row.memory = group.memory;
    row.incompleteMemory = group.incompleteMemory;
    row.cpu = group.cpu;
    row.memberCount = static_cast<int>(group.members.size());
    row.stoppableIDs.assign(group.stoppableIDs.begin(), group.stoppableIDs.end());
    row.blocking = ProcessTexts::blockingProtection(group);
    return row;
}

bool showsSame(const ProcessRow& row, const ProcessGroup& group)
{
    if (row.memory != group.memory || row.incompleteMemory != group.incompleteMemory || row.cpu != group.cpu ||
        row.memberCount != static_cast<int>(group.members.size()) || row.title != group.title ||
        row.subtitle != group.subtitle || row.symbol != group.symbol ||
        row.stoppableIDs.size() != group.stoppableIDs.size() || row.blocking != ProcessTexts::blockingProtection(group))
        return false;
    for (const auto& id : row.stoppableIDs)
        if (group.stoppableIDs.count(id) == 0) return false;
    return row.iconPath == ProcessIconSource::group(group);
}

ProcessListModel::ProcessListModel(VantleModel& model, QObject* parent) : QAbstractListModel(parent), model_(model)
{
    connect(&model_, &VantleModel::visibleChanged, this, &ProcessListModel::sync);
    connect(&model_, &VantleModel::selectedChanged, this, &ProcessListModel::statesChanged);
    connect(&model_, &VantleModel::focusedChanged, this, &ProcessListModel::statesChanged);
    sync();
}

int ProcessListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ProcessListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto& shown = row(index.row());
    switch (role) {
        case Qt::DisplayRole: return shown.titleText();
        case IdRole: return QString::fromStdString(shown.id);
        case GlyphRole: return static_cast<int>(glyph(index.row()));
        case Qt::AccessibleTextRole:
            return QStringList{shown.titleText(), QString::fromStdString(shown.subtitle),
                               ProcessTexts::memberCount(shown.memberCount),
                               ProcessTexts::memory(shown.memory, shown.incompleteMemory), ProcessTexts::cpu(shown.cpu)}
                .join(QStringLiteral(", "));
        case Qt::AccessibleDescriptionRole: {
            const auto state = glyph(index.row());
            return state == ProcessTexts::Glyph::locked ? shown.blockingReason()
                                                        : ProcessTexts::glyphAccessibleName(state, shown.titleText());
        }
        default: return {};
    }
}

std::optional<int> ProcessListModel::rowOf(const std::string& id) const
{
    const auto found = index_.find(id);
    if (found == index_.end()) return std::nullopt;
    return found->second;
}

ProcessTexts::Glyph ProcessListModel::glyph(int index) const
{
    return ProcessTexts::glyph(row(index).stoppableIDs, model_.selected());
}

bool ProcessListModel::isFocused(int index) const
{
    return model_.focused() == row(index).id;
}

std::optional<int> ProcessListModel::focusedRow() const
{
    const auto& id = model_.focused();
    return id ? rowOf(*id) : std::nullopt;
}

void ProcessListModel::toggle(int index)
{
    if (index < 0 || index >= rowCount() || row(index).stoppableIDs.empty()) return;
    const auto& id = row(index).id;
    const auto& groups = model_.visible();
    const auto group = std::find_if(groups.begin(), groups.end(), [&](const ProcessGroup& g) { return g.id == id; });
    if (group != groups.end()) model_.toggle(*group);
}

void ProcessListModel::focus(int index)
{
    if (index < 0 || index >= rowCount()) return;
    if (!isFocused(index)) model_.setFocused(row(index).id);
}

void ProcessListModel::statesChanged()
{
    if (!rows_.empty())
        emit dataChanged(this->index(0), this->index(rowCount() - 1), {GlyphRole, Qt::AccessibleDescriptionRole});
}

void ProcessListModel::sync()
{
    // The listed groups stay where they are while this runs: ids are viewed, not copied.
    const auto& groups = model_.visible();
    Positions wanted;
    wanted.reserve(groups.size());
    std::vector<const ProcessGroup*> order;
    order.reserve(groups.size());
    for (const auto& group : groups) {
        // Ids are unique among listed groups; a repeat would break the diff.
        if (wanted.emplace(group.id, static_cast<int>(order.size())).second) order.push_back(&group);
    }
    syncing_ = true;
    bool moved = removeMissing(wanted);
    moved = reorderKept(wanted) || moved;
    moved = insertNew(order) || moved;
    if (moved) reindex();
    updateChanged(order);
    syncing_ = false;
    emit synced();
}

void ProcessListModel::reindex()
{
    index_.clear();
    index_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) index_.emplace(rows_[i].id, static_cast<int>(i));
}

// Contiguous runs go in one signal each, from the end so positions hold.
bool ProcessListModel::removeMissing(const Positions& wanted)
{
    const auto listed = [&](int at) { return wanted.count(rows_[static_cast<std::size_t>(at)].id) == 1; };
    bool removed = false;
    int last = rowCount() - 1;
    while (last >= 0) {
        if (listed(last)) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !listed(first - 1)) --first;
        beginRemoveRows({}, first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        endRemoveRows();
        removed = true;
        last = first - 1;
    }
    return removed;
}

// The rows that stay are put in their new order in one layout change, with
// persistent indexes (the current and hovered rows) following their groups.
bool ProcessListModel::reorderKept(const Positions& wanted)
{
    std::vector<int> target(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) target[i] = wanted.at(rows_[i].id);
    if (std::is_sorted(target.begin(), target.end())) return false;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return target[static_cast<std::size_t>(a)] < target[static_cast<std::size_t>(b)]; });
    std::vector<int> newRowOf(rows_.size());
    std::vector<ProcessRow> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t to = 0; to < order.size(); ++to) {
        newRowOf[static_cast<std::size_t>(order[to])] = static_cast<int>(to);
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[to])]));
    }
    rows_ = std::move(sorted);
    const auto before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const auto& index : before)
        after.append(index.isValid() ? this->index(newRowOf[static_cast<std::size_t>(index.row())]) : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return true;
}

// The kept rows are now a subsequence of `order` in its order: any position
// where they differ starts a run of new rows. The index still holds the ids
// from before this sync, which are exactly the kept ones among the listed.
bool ProcessListModel::insertNew(const std::vector<const ProcessGroup*>& order)
{
    bool inserted = false;
    std::size_t at = 0;
    while (at < order.size()) {
        if (at < rows_.size() && rows_[at].id == order[at]->id) {
            ++at;
            continue;
        }
        std::vector<ProcessRow> run;
        for (std::size_t end = at; end < order.size() && index_.count(order[end]->id) == 0; ++end)
            run.push_back(processRow(*order[end]));
        if (run.empty()) break;  // cannot happen while ids are unique
        const auto count = static_cast<int>(run.size());
        beginInsertRows({}, static_cast<int>(at), static_cast<int>(at) + count - 1);
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(run.begin()),
                     std::make_move_iterator(run.end()));
        endInsertRows();
        inserted = true;
        at += run.size();
    }
    return inserted;
}

void ProcessListModel::updateChanged(const std::vector<const ProcessGroup*>& order)
{
    std::size_t at = 0;
    while (at < order.size()) {
        if (showsSame(rows_[at], *order[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < order.size() && !showsSame(rows_[end], *order[end])) {
            rows_[end] = processRow(*order[end]);
            ++end;
        }
        emit dataChanged(index(static_cast<int>(at)), index(static_cast<int>(end) - 1));
        at = end;
    }
}

ProcessRowSelection::ProcessRowSelection(ProcessListModel& rows) : QItemSelectionModel(&rows, &rows), rows_(rows)
{
    // A new choice shows at once; a sample changes rows in many runs, which
    // are mirrored once, after it.
    const auto later = [this] {
        if (std::exchange(pending_, true)) return;
        QTimer::singleShot(0, this, [this] {
            pending_ = false;
            mirror();
        });
    };
    connect(&rows_, &QAbstractItemModel::dataChanged, this,
            [this, later](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles.contains(ProcessListModel::GlyphRole))
                    mirror();
                else
                    later();
            });
    connect(&rows_, &QAbstractItemModel::rowsInserted, this, later);
    connect(&rows_, &QAbstractItemModel::layoutChanged, this, later);
    mirror();
}

void ProcessRowSelection::select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command)
{
    if (mirroring_) {
        QItemSelectionModel::select(selection, command);
        return;
    }
    if (command.testFlag(Clear)) return;
    for (const auto& index : selection.indexes()) {
        const bool chosen = rows_.glyph(index.row()) == ProcessTexts::Glyph::checked;
        if (command.testFlag(Toggle) || (command.testFlag(Select) && !chosen) || (command.testFlag(Deselect) && chosen))
            rows_.toggle(index.row());
    }
}

void ProcessRowSelection::mirror()
{
    QItemSelection chosen;
    bool same = true;
    for (int row = 0; row < rows_.rowCount(); ++row) {
        const bool all = rows_.glyph(row) == ProcessTexts::Glyph::checked;
        if (all) chosen.select(rows_.index(row), rows_.index(row));
        same = same && all == isRowSelected(row);
    }
    if (same) return;
    mirroring_ = true;
    QItemSelectionModel::select(chosen, ClearAndSelect);
    mirroring_ = false;
}

}  // namespace corvalent
