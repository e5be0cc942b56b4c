#pragma once

// One health card of the overview: a symbol tile, the title with its help
// button, the figure, and a plain-language state beside a coloured dot.

#include <QColor>
#include <QString>

#include "ui/overview/overview_states.h"
#include "ui/widgets/panel.h"

namespace corvalent {

class ElidedLabel;
class InfoButton;
class StateDot;

namespace overview {

class MetricCard : public PanelSurface {
public:
    MetricCard(const QString& title, const QString& symbol, const QColor& accent, QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    const QString& help() const { return help_; }
    InfoButton* infoButton() const { return info_; }

    void setValue(const QString& value);
    void setState(const OverviewMetricState& state);
    void setHelp(const QString& help);

private:
    QString title_;
    QString help_;
    InfoButton* info_;
    ElidedLabel* value_;
    StateDot* dot_;
    ElidedLabel* state_;
};

}  // namespace overview
}  // namespace corvalent
