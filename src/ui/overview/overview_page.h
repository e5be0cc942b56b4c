#pragma once

// The overview: four metric cards over the two summaries, running work and
// disk space, each leading to its workspace. It paints no background of its
// own, so the window's backdrop shows through.

#include <QWidget>

#include <array>
#include <cstdint>

class QScrollArea;

namespace corvalent {

class VantleModel;
class DiskModel;
class ProcessIconStore;

namespace overview {
class MetricCard;
class HelpPopover;
class RunningWorkPanel;
class DiskSpacePanel;
}  // namespace overview

class OverviewPage : public QWidget {
    Q_OBJECT

public:
    // Running-work rows show icons from `icons` when one is given.
    OverviewPage(VantleModel& model, DiskModel& diskModel, QWidget* parent = nullptr,
                 ProcessIconStore* icons = nullptr);
    ~OverviewPage() override;

    QScrollArea& scrollArea() const { return *scroll_; }

signals:
    void openProcesses();
    void openDiskSpace();

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* cardRow();
    QWidget* panelRow();
    void refreshProcesses();
    void refreshDisk();
    overview::MetricCard* card(const QString& title) const;

    VantleModel& model_;
    DiskModel& diskModel_;
    ProcessIconStore* icons_;
    const int activeCores_;
    const std::uint64_t physicalMemory_;

    QScrollArea* scroll_ = nullptr;
    std::array<overview::MetricCard*, 4> cards_{};
    overview::RunningWorkPanel* runningWork_ = nullptr;
    overview::DiskSpacePanel* diskSpace_ = nullptr;
    overview::HelpPopover* help_ = nullptr;
};

}  // namespace corvalent
