#pragma once

// The running-work summary: totals over every listed group, the first seven
// groups as rows that open the process workspace on them, and when the list
// was last sampled.

#include <functional>
#include <string>
#include <vector>

#include "ui/widgets/panel.h"

namespace corvalent {

class ProcessIconStore;
class VantleModel;

namespace overview {

class CardMetric;
class EmptyMessage;
class PanelFooter;
class PanelHeader;
class RowStack;

class RunningWorkPanel : public PanelSurface {
public:
    // Rows show the groups' icons from `icons`, or their symbols without one.
    RunningWorkPanel(std::function<void()> viewAll, std::function<void(const std::string&)> open,
                     ProcessIconStore* icons, QWidget* parent = nullptr);
    // Never under 340, and never under what its content needs.
    QSize minimumSizeHint() const override;
    void refresh(const VantleModel& model);

private:
    std::function<void(const std::string&)> open_;
    ProcessIconStore* icons_;
    PanelHeader* header_;
    EmptyMessage* empty_;
    QWidget* totals_;
    CardMetric* footprint_;
    CardMetric* processes_;
    CardMetric* available_;
    RowStack* rows_;
    // Everything below the header's divider that only a listed group shows.
    std::vector<QWidget*> listParts_;
    PanelFooter* footer_;
};

}  // namespace overview
}  // namespace corvalent
