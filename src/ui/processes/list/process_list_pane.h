#pragma once

// The left side of the process page: the pane's title with the live state,
// the search field, the sort control and the protected-process control over
// the list of group rows. Everything shown comes from the model; the pane
// writes back the search, the order, "Include system", the focused group and
// the selection.

#include <QWidget>

#include "ui/processes/list/process_list_view.h"

class QBoxLayout;
class QCheckBox;
class QLineEdit;

namespace corvalent {

class Button;
class ElidedLabel;
class ProcessIconStore;
class ProcessListModel;
class SegmentedControl;
class Spinner;
class SymbolView;
class VantleModel;

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
