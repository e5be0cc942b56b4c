#pragma once

// What the disk workspace shows while a scan runs: how far it has come, how
// long it may still take, the path being read, the expected size of what is
// scanned, whether protected folders are included, and the control that
// stops the scan and keeps what was found so far.

#include <QString>
#include <QWidget>

#include "ui/disk/disk_view_state.h"

namespace corvalent {

class Bar;
class DiskModel;
class ElidedLabel;
class Ring;
class Spinner;
class StopScanAction;
class SymbolView;

// "1 sec", "60 sec", "2 min", "168 hr": seconds, minutes below an hour,
// hours from there, rounded half away from zero and never below 1.
QString remainingLabel(double seconds);
// The fraction as whole percent, rounded half away from zero: "1%" for 0.005.
QString progressPercentText(double fraction);

class ScanProgressPanel : public QWidget {
public:
    ScanProgressPanel(DiskModel& model, DiskViewState& state, const DiskCommands& commands, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The least the column needs: what the scroll area around it must give.
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int fullMargin = 36;
    static constexpr int compactMargin = 14;

    // The column at `width` without the ring and with narrow margins.
    int leastHeight(int width) const;
    // The ring as large as the height allows, up to its full size; where
    // not even a small one fits, the percentage stands beside the bar.
    void fitColumn();
    void showPercentBesideBar();
    QWidget* buildRing();
    QWidget* buildProgressBlock();
    QWidget* buildScopeCard();
    QWidget* buildPrivacyNote();
    // Sets texts and fractions only: progress arrives ten times a second.
    void refresh();
    void showPrivacyNote();

    DiskModel& model_;
    Ring* ring_ = nullptr;
    ElidedLabel* percent_ = nullptr;
    Spinner* ringSpinner_ = nullptr;
    ElidedLabel* path_ = nullptr;
    Bar* bar_ = nullptr;
    QWidget* estimating_ = nullptr;
    QWidget* estimated_ = nullptr;
    ElidedLabel* remaining_ = nullptr;
    ElidedLabel* barPercent_ = nullptr;
    ElidedLabel* filesValue_ = nullptr;
    ElidedLabel* filesDetail_ = nullptr;
    ElidedLabel* storageValue_ = nullptr;
    ElidedLabel* storageDetail_ = nullptr;
    SymbolView* privacySymbol_ = nullptr;
    ElidedLabel* privacyText_ = nullptr;
    StopScanAction* stop_ = nullptr;
};

}  // namespace corvalent
