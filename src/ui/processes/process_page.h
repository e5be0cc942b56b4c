#pragma once

// The process workspace: the title, four metric chips and the caption line
// over a split of the process list and the contextual inspector, with the
// selection shelf's place floating over the foot of the split. The page keeps
// no state of its own beyond whether the inspector is shown. On a short page
// the parts above the list give way, so that the list keeps five rows clear
// of the shelf.

#include <QPointer>
#include <QWidget>

#include <array>
#include <span>
#include <string>

class QSplitter;

namespace corvalent {

class ElidedLabel;
class ProcessIconStore;
class ProcessListPane;
class VantleModel;

namespace processes {
class MetricChip;
}

class ProcessPage : public QWidget {
    Q_OBJECT

public:
    ProcessPage(VantleModel& model, ProcessIconStore& icons, QWidget* parent = nullptr);

    ProcessListPane& listPane() { return *pane_; }
    // Where the inspector's content goes; shown while the setting is on.
    QWidget& inspector() { return *inspector_; }
    // Where the selection shelf floats, over the split's foot.
    QWidget& shelf() { return *shelf_; }
    // The chip of that title ("Memory pressure" …), whose accessible name
    // is its title and whose value label is named "chipValue".
    QWidget* chip(const QString& title) const;
    bool showsInspector() const { return showInspector_; }
    // How many parts above the list give way at the page's height, in this
    // order: the caption line, the title block, the list's title row, the
    // header with its chips, and last the line break between the search field
    // and the list's controls.
    int foldedParts() const { return folded_; }

public slots:
    // Follows the "showInspector" setting; the page reads it when made.
    void setShowInspector(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildHeader();
    void refreshHeader();
    void placeShelf();
    void slideInspector(bool in);
    void foldToHeight();
    // The first listed group with a process in the stop selection.
    std::string selectedGroup() const;

    VantleModel& model_;
    ProcessListPane* pane_ = nullptr;
    QSplitter* split_ = nullptr;
    QWidget* header_ = nullptr;
    QWidget* headerDivider_ = nullptr;
    QWidget* titles_ = nullptr;
    QWidget* chipRow_ = nullptr;
    QWidget* caption_ = nullptr;
    QWidget* inspector_ = nullptr;
    QWidget* shelf_ = nullptr;
    std::array<processes::MetricChip*, 4> chips_{};
    ElidedLabel* lastScan_ = nullptr;
    bool showInspector_ = true;
    bool sized_ = false;
    int slideGeneration_ = 0;
    int folded_ = 0;
    // The group the list's focus went to when the running stop began, and its row then.
    std::string stopped_;
    std::optional<int> stoppedRow_;
};

}  // namespace corvalent
