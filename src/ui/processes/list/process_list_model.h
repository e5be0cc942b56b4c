#pragma once

// The rows of the process list: the model's visible groups, kept in step by
// id. A new sample, search or order moves, inserts, removes and changes rows
// in place instead of resetting the list, so the scroll position, the current
// row and the hovered row survive every refresh.

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/process/processes.h"
#include "ui/processes/process_texts.h"

namespace corvalent {

class VantleModel;

// What one row shows, copied from its group when the group first appears or
// changes. Texts are formatted when painted: only rows in view need them.
struct ProcessRow {
    std::string id;
    std::string title;
    std::string subtitle;
    std::string symbol;
    std::optional<QString> iconPath;
    std::uint64_t memory = 0;
    bool incompleteMemory = false;
    std::optional<double> cpu;
    int memberCount = 0;
    std::vector<std::string> stoppableIDs;
    std::optional<ProcessProtection> blocking;

    QString titleText() const { return QString::fromStdString(title); }
    QString blockingReason() const { return ProcessTexts::blockingReason(blocking); }
};

ProcessRow processRow(const ProcessGroup& group);
// Whether the row still shows the group as it is; allocates nothing on the
// common path, so an unchanged sample costs little.
bool showsSame(const ProcessRow& row, const ProcessGroup& group);

class ProcessListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { IdRole = Qt::UserRole + 1, GlyphRole };

    explicit ProcessListModel(VantleModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const ProcessRow& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }
    std::optional<int> rowOf(const std::string& id) const;
    ProcessTexts::Glyph glyph(int index) const;
    bool isFocused(int index) const;
    // The row of the group in the inspector, when it is listed.
    std::optional<int> focusedRow() const;

    // Selects or deselects the whole group of a row; nothing for a locked one.
    void toggle(int index);
    // Puts the row's group into the inspector.
    void focus(int index);
    // Rows are being removed, moved and inserted for a new list of groups.
    bool syncing() const { return syncing_; }

signals:
    // The rows show the model's groups again, after any change.
    void synced();

private:
    // The new position of each listed group, by id.
    using Positions = std::unordered_map<std::string_view, int>;

    void sync();
    bool removeMissing(const Positions& wanted);
    bool reorderKept(const Positions& wanted);
    bool insertNew(const std::vector<const ProcessGroup*>& order);
    void updateChanged(const std::vector<const ProcessGroup*>& order);
    void reindex();
    void statesChanged();

    VantleModel& model_;
    std::vector<ProcessRow> rows_;
    std::unordered_map<std::string, int> index_;
    bool syncing_ = false;
};

// The view's selection is the stop selection, row by row: a row is selected
// while all of its group's stoppable processes are. A request to select or
// deselect a row (a reader's Toggle) toggles its group, as the row's glyph
// does; requests that clear or select many rows at once are ignored.
class ProcessRowSelection : public QItemSelectionModel {
public:
    explicit ProcessRowSelection(ProcessListModel& rows);

    using QItemSelectionModel::select;
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;

private:
    void mirror();

    ProcessListModel& rows_;
    bool mirroring_ = false;
    bool pending_ = false;
};

}  // namespace corvalent
