#pragma once

// The overview: four metric cards over the two summaries, running work and
// disk space, each leading to its workspace.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

#include "ui/overview/overview_states.h"

class QScrollArea;

namespace corvalent {

class VantleModel;
class DiskModel;

namespace overview {
class MetricCard;
class HelpPopover;
class RunningWorkPanel;
class DiskSpacePanel;
}  // namespace overview

class OverviewPage : public QWidget {
    Q_OBJECT

public:
    OverviewPage(VantleModel& model, DiskModel& diskModel, QWidget* parent = nullptr);
    ~OverviewPage() override;

signals:
    void openProcesses();
    void openDiskSpace();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshProcesses();
    void refreshDisk();

    // The help popovers of the cards: at most one is open, and one opening waits.
    void helpEntered(const QString& title);
    void helpLeft(const QString& title);
    void helpClicked(const QString& title);
    // By value: callers pass the pending title, which opening clears.
    void openHelp(QString title);
    void closeHelp();
    overview::MetricCard* card(const QString& title) const;

    VantleModel& model_;
    DiskModel& diskModel_;
    const int activeCores_;
    const std::uint64_t physicalMemory_;

    QScrollArea* scroll_ = nullptr;
    QWidget* panelRow_ = nullptr;
    std::array<overview::MetricCard*, 4> cards_{};
    overview::RunningWorkPanel* runningWork_ = nullptr;
    overview::DiskSpacePanel* diskSpace_ = nullptr;
    overview::HelpPopover* popover_ = nullptr;
    QTimer helpTimer_;
    QString pendingHelp_;
    std::optional<QString> openHelp_;
};

}  // namespace corvalent
