#pragma once

// The process page's list of group rows and how keys and clicks work it.

#include <QListView>

#include <optional>
#include <string>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

namespace corvalent {

class OverlayScrollBar;
class ProcessIconStore;
class ProcessListModel;
class ProcessRowDelegate;

// The rows. The current row's group is the one in the inspector while the
// list has the keyboard focus and the person moves it (a click, the arrow
// keys, Return) or the program hands the focus to a row (after a stop). A
// row Qt or a refresh makes current is not inspected: when the current row
// goes (its group stopped, ended or filtered out) the row after it takes its
// place, and the inspector keeps its group. The list keeps a current row
// only while it has the focus. Space selects or deselects the current row's
// group; the glyph selects without making its row current. The current row
// shows the kit's ring while a key brought the focus or moved it. A row is
// selected, for readers, while its whole group is; their Toggle selects or
// deselects the group.
class ProcessListView : public QListView {
public:
    ProcessListView(ProcessListModel& rows, ProcessIconStore& icons, QWidget* parent = nullptr);

    ProcessListModel& rows() { return rows_; }
    ProcessRowDelegate& rowDelegate() { return *delegate_; }
    bool showsFocusRing() const { return focusRing_.shown(*this); }
    const FocusRing& focusRing() const { return focusRing_; }
    // Takes the focus for the program, on the row of the group with `id`
    // when it is listed, else on the row at `orRow` (the last row when there
    // are fewer); the ring shows when a key led here.
    void takeFocus(const std::string& id, std::optional<int> orRow = std::nullopt);
    // Something floats over the list's foot, `height` high: a row brought
    // into view comes to rest above it, and so does the scroll bar.
    void setCoveredFoot(int height);
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void hoverAt(const QPoint& position);
    void inspectCurrent();
    // Makes the row current without inspecting it.
    void setCurrentUnchosen(const QModelIndex& index);
    void rowsSynced();

    ProcessListModel& rows_;
    ProcessRowDelegate* delegate_;
    FocusRing focusRing_;
    OverlayScrollBar* scrollBar_;
    int coveredFoot_ = 0;
    bool releasedOnGlyph_ = false;
    // The group whose row takes the place of the current row being removed.
    std::optional<std::string> heir_;
    // While set, a row Qt makes current of its own accord is not inspected.
    bool unchosen_ = false;
};

}  // namespace corvalent
