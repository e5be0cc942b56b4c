#pragma once

// The review list's card of possible duplicates: the scan's groups of
// same-sized files, verified one group at a time by their full contents,
// with the extra copies of a verified set offered for review.
//
// The card keeps no state of its own: it follows the model's groups,
// verification and message, and is hidden while the last scan found no
// possible duplicates. Blocks are rebuilt only when what they show changes.

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk.h"
#include "core/disk/disk_duplicates.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/panel.h"

class QGridLayout;
class QVBoxLayout;

namespace corvalent {

class Button;
class DiskModel;
class DiskViewState;
class ElidedLabel;
class FileRevealer;
class SymbolView;

// One copy of a verified set: a line of the set's grid, so that the
// buttons of all its copies line up. Beside "Reveal" it shows "Keep", the
// lock, or "Review…", which opens the confirmation of its move to the Trash.
struct DuplicateCopyRow {
    std::string path;
    DiskDuplicateCopyRole role;
    ElidedLabel* text = nullptr;  // the path, elided in the middle
    Button* reveal = nullptr;
    Button* review = nullptr;  // only for `review`
};

// The copies of one verified set still in place, each with its role.
class VerifiedDuplicateSetBlock : public PanelSurface {
public:
    // `set` holds the copies left (DiskModel::duplicateCopiesLeft); `roles` pairs with its files.
    VerifiedDuplicateSetBlock(const DiskVerifiedDuplicateSet& set, const std::vector<DiskDuplicateCopyRole>& roles,
                              DiskModel& model, DiskViewState& state, FileRevealer& revealer,
                              QWidget* parent = nullptr);

    const std::vector<DuplicateCopyRow>& rows() const { return rows_; }
    // "3 identical · up to 80 MB", of the copies left.
    QString titleText() const;

private:
    void addRow(QGridLayout& grid, const DiskFile& file, DiskDuplicateCopyRole role, DiskModel& model,
                DiskViewState& state, FileRevealer& revealer);
    // Each row shortens its path keeping where it parts from its siblings.
    void keepPartingFolders();

    ElidedLabel* title_ = nullptr;
    std::vector<DuplicateCopyRow> rows_;
};

// One possible-duplicate group: its figures, its control, and what its
// verification found.
class DuplicateGroupBlock : public QWidget {
public:
    enum class Action { verify, stop, verified };

    DuplicateGroupBlock(const DiskDuplicateGroup& group, DiskModel& model, DiskViewState& state, FileRevealer& revealer,
                        QWidget* parent = nullptr);

    const std::string& id() const { return group_.id; }
    // "3 files · 40 MB each" and "Up to 80 MB locally allocated", of the copies left.
    QString filesText() const;
    QString recoverableText() const;
    Action action() const { return action_; }
    Button& verifyButton() const { return *verify_; }
    Button& stopButton() const { return *stop_; }
    // Shown once verification found no two files alike.
    bool contentsDiffer() const;
    const std::vector<VerifiedDuplicateSetBlock*>& sets() const { return sets_; }

    // Follows the model: the figures count the copies left, and Verify is
    // offered only while two or more are left; rebuilds the
    // verified sets only when they, or which of their files are in the Trash
    // or may move, changed. The focus of a
    // control or copy that goes is handed on: Verify and Stop to each other,
    // a verification to the first copy it found, a copy to the next one. What
    // found no taker in the group is returned, still to be handed on.
    FocusHandOn sync();

private:
    struct Built;
    QWidget* control(Action action) const;
    QWidget* firstCopyButton() const;
    void showAction(Action action);
    Built builtFrom(const std::vector<DiskVerifiedDuplicateSet>* sets) const;
    void rebuildSets(const std::vector<DiskVerifiedDuplicateSet>* sets, Built wanted);

    DiskModel& model_;
    DiskViewState& state_;
    FileRevealer& revealer_;
    DiskDuplicateGroup group_;
    ElidedLabel* files_ = nullptr;
    ElidedLabel* recoverable_ = nullptr;
    Button* verify_ = nullptr;
    Button* stop_ = nullptr;
    SymbolView* seal_ = nullptr;
    Action action_ = Action::verify;
    QWidget* differ_ = nullptr;
    QVBoxLayout* results_ = nullptr;
    std::vector<VerifiedDuplicateSetBlock*> sets_;

    // What the verified sets were built from: the copies left of each, and their roles.
    struct Built {
        std::optional<std::vector<DiskVerifiedDuplicateSet>> sets;
        std::vector<std::vector<DiskDuplicateCopyRole>> roles;
        bool operator==(const Built&) const = default;
    };
    std::optional<Built> built_;
};

class DuplicateCard : public PanelSurface {
public:
    DuplicateCard(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent = nullptr);

    // The number of groups the scan found, all of them.
    QString countText() const;
    const std::vector<DuplicateGroupBlock*>& groupBlocks() const { return blocks_; }
    int dividerCount() const { return static_cast<int>(dividers_.size()); }
    // Empty while the model has no verification message.
    QString messageText() const;
    // The focus the last change took from a copy or a group's control and
    // could not hand on inside the card; the list around it hands it on.
    FocusHandOn takeFocusLeft();

protected:
    void changeEvent(QEvent* event) override;

private:
    void sync();
    void rebuildGroups(const std::vector<DiskDuplicateGroup>& groups);
    void syncVisibility();

    DiskModel& model_;
    DiskViewState& state_;
    FileRevealer& revealer_;
    ElidedLabel* count_ = nullptr;
    QVBoxLayout* groupColumn_ = nullptr;
    ElidedLabel* message_ = nullptr;
    std::vector<DuplicateGroupBlock*> blocks_;
    std::vector<QWidget*> dividers_;
    std::vector<DiskDuplicateGroup> shownGroups_;
    std::size_t groupCount_ = 0;
    FocusHandOn focusLeft_;
};

}  // namespace corvalent
