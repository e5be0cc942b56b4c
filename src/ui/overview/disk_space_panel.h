#pragma once

// The storage summary: the selected disk's capacity, then the scan's
// progress, an invitation to scan, or the largest items of the last scan,
// and a footer with the scan's state.

#include <functional>

#include "ui/widgets/panel.h"

namespace corvalent {

class Bar;
class DiskModel;
class ElidedLabel;

namespace overview {

class PanelFooter;
class PanelHeader;
class RowStack;

class DiskSpacePanel : public PanelSurface {
public:
    explicit DiskSpacePanel(std::function<void()> openDiskSpace, QWidget* parent = nullptr);
    // Never under 340, and never under what its content needs.
    QSize minimumSizeHint() const override;
    void refresh(const DiskModel& model);

private:
    QWidget* capacityBlock();
    QWidget* scanningView();
    QWidget* scanPrompt(std::function<void()> openDiskSpace);
    void showCapacity(const DiskModel& model);

    PanelHeader* header_;
    QWidget* capacity_;
    QWidget* capacityDivider_;
    ElidedLabel* available_;
    ElidedLabel* usedPercent_;
    Bar* bar_;
    ElidedLabel* usedCaption_;
    ElidedLabel* totalCaption_;
    QWidget* scanning_;
    ElidedLabel* scanningText_;
    QWidget* prompt_;
    RowStack* rows_;
    PanelFooter* footer_;
};

}  // namespace overview
}  // namespace corvalent
