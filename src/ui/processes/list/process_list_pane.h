#pragma once

// The left side of the process page: the pane's title with the live state,
// the search field, the sort control and the protected-process control over
// the list of group rows. Everything shown comes from the model; the pane
// writes back the search, the order, "Include system", the focused group and
// the selection.

#include <QListView>
#include <QWidget>

#include <string>

#include "ui/widgets/corvalent_style.h"

class QBoxLayout;
class QCheckBox;
class QLineEdit;

namespace corvalent {

class Button;
class ElidedLabel;
class OverlayScrollBar;
class ProcessIconStore;
class ProcessListModel;
class ProcessRowDelegate;
class SegmentedControl;
class Spinner;
class SymbolView;
class VantleModel;

// The rows. A click on a row focuses its group; from the keyboard the arrow
// keys move between rows and focus them, Space selects or deselects the
// current row's group and Return focuses it. The current row shows the kit's
// ring while a key brought the focus or moved it. A row is selected, for
// readers, while its whole group is; their Toggle selects or deselects the group.
class ProcessListView : public QListView {
public:
    ProcessListView(ProcessListModel& rows, ProcessIconStore& icons, QWidget* parent = nullptr);

    ProcessListModel& rows() { return rows_; }
    ProcessRowDelegate& rowDelegate() { return *delegate_; }
    bool showsFocusRing() const { return focusRing_.shown(*this); }
    const FocusRing& focusRing() const { return focusRing_; }
    // Takes the focus for the program, on the row of the group with `id`
    // when it is listed; the ring shows when a key led here.
    void takeFocus(const std::string& id);
    // Something floats over the list's foot, `height` high: a row brought
    // into view comes to rest above it, and so does the scroll bar.
    void setCoveredFoot(int height);
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void hoverAt(const QPoint& position);

    ProcessListModel& rows_;
    ProcessRowDelegate* delegate_;
    FocusRing focusRing_;
    OverlayScrollBar* scrollBar_;
    int coveredFoot_ = 0;
    bool releasedOnGlyph_ = false;
};

class ProcessListPane : public QWidget {
public:
    ProcessListPane(VantleModel& model, ProcessIconStore& icons, QWidget* parent = nullptr);

    ProcessListView& list() { return *list_; }
    QLineEdit& searchField() { return *search_; }
    Button& clearButton() { return *clear_; }
    SegmentedControl& sortControl() { return *sort_; }
    QCheckBox& includeSystem() { return *includeSystem_; }
    QWidget& hiddenBadge() { return *hiddenBadge_; }
    // The texts over the list when it has no rows; empty when none shows.
    QString noticeText() const;

    // On a short page the title row ("Running work", the count and the live
    // state) gives way to the rows: the height that frees, and whether it shows.
    int titleRowHeight() const;
    void setTitleRowShown(bool shown);
    // Shorter still, the controls join the search field on one line in a
    // tighter header: the height that frees, and whether they do.
    int joinedRowsSaving() const;
    void setRowsJoined(bool joined);
    // The pane above its list with every row shown, divider included.
    int fullHeaderHeight() const;
    // The list's height for `rows` whole rows from its top.
    static int listHeight(int rows);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildSearch();
    QWidget* buildControls();
    QWidget* buildNotice();
    void refreshHeader();
    void refreshSearch();
    void refreshControls();
    void refreshNotice();
    void scrollTo(const QString& groupID);

    VantleModel& model_;
    ProcessListModel* rows_ = nullptr;
    QWidget* titleRow_ = nullptr;
    QWidget* header_ = nullptr;
    QBoxLayout* findRows_ = nullptr;
    QWidget* searchRow_ = nullptr;
    QWidget* controlsRow_ = nullptr;
    ProcessListView* list_ = nullptr;
    ElidedLabel* count_ = nullptr;
    QWidget* live_ = nullptr;
    Spinner* spinner_ = nullptr;
    SymbolView* liveDot_ = nullptr;
    QLineEdit* search_ = nullptr;
    Button* clear_ = nullptr;
    SegmentedControl* sort_ = nullptr;
    QCheckBox* includeSystem_ = nullptr;
    QWidget* hiddenBadge_ = nullptr;
    ElidedLabel* hiddenText_ = nullptr;
    QWidget* notice_ = nullptr;
    QWidget* reading_ = nullptr;
    QWidget* empty_ = nullptr;
    ElidedLabel* emptyDescription_ = nullptr;
};

}  // namespace corvalent
