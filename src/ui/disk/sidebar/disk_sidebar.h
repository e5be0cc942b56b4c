#pragma once

// The column beside the disk map: a header naming what the list shows, the
// picker of its four modes, the mode's scrolling list, and the scan's
// footnote. It keeps no state of its own: the focused node, the hovered id
// and the mode live in the page's shared state. Lists are rebuilt only when
// the focused node or the result changes; hover only repaints rows.

#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ui/disk/sidebar/disk_rows.h"
#include "ui/disk/disk_view_state.h"

class QStackedWidget;
class QVBoxLayout;

namespace corvalent {

class DiskModel;
class ElidedLabel;
class FileRevealer;
class SegmentedControl;

class DiskSidebar : public QWidget {
    Q_OBJECT

public:
    DiskSidebar(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent = nullptr);

    QString title() const;
    // The subtitle's parts, as shown side by side.
    QStringList subtitle() const;
    SegmentedControl& picker() const { return *picker_; }
    // What the list shows in `mode`, and the one shown now.
    QWidget& modeContent(DiskSidebarMode mode) const;
    QWidget& currentContent() const;
    const std::vector<DiskBreakdownRow*>& breakdownRows() const { return breakdownRows_; }
    const std::vector<LargestFileRow*>& fileRows() const { return fileRows_; }
    ScanFootnote& footnote() const { return *footnote_; }
    // The column's height besides its list, with its title shown.
    int fullHeightAroundList() const;
    // On a short page the title and its subtitle give way to the list: the
    // height that frees, and whether they show.
    int titleSaving() const;
    void setTitleShown(bool shown);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildHeader();
    void addModeList(DiskSidebarMode mode, QWidget* content);
    void sync();
    void syncHeader();
    void syncHover();
    void showMode();
    void rebuildBreakdown(const DiskNode* focused);
    void rebuildFiles();

    DiskModel& model_;
    DiskViewState& state_;
    DiskRowContext context_;
    QWidget* header_ = nullptr;
    QWidget* titleBlock_ = nullptr;
    ElidedLabel* title_ = nullptr;
    std::array<ElidedLabel*, 3> subtitle_{};
    SegmentedControl* picker_ = nullptr;
    QStackedWidget* lists_ = nullptr;
    std::array<QWidget*, 4> contents_{};
    QVBoxLayout* breakdownColumn_ = nullptr;
    QVBoxLayout* filesColumn_ = nullptr;
    std::vector<DiskBreakdownRow*> breakdownRows_;
    std::vector<LargestFileRow*> fileRows_;
    ScanFootnote* footnote_ = nullptr;

    // What the lists were built from: the focused node and the result's
    // publication, counted, since a new result may sit where the last one did.
    const DiskNode* builtFocus_ = nullptr;
    std::uint64_t resultSerial_ = 0;
    std::uint64_t builtSerial_ = 0;
    std::pair<std::size_t, std::string> builtTrash_;  // receipts and the newest one's id
    bool hadResult_ = false;
};

}  // namespace corvalent
