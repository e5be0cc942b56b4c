#include "ui/overview/metric_card.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent::overview {

MetricCard::MetricCard(const QString& title, const QString& symbol, const QColor& accent, QWidget* parent)
    : PanelSurface(14, parent), title_(title)
{
    setColours([](const QPalette& palette) { return CorvalentStyle::withAlpha(CorvalentStyle::panel(palette), 0.76); },
               CorvalentStyle::softBorder);
    setObjectName("metricCard");
    setAccessibleName(title);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 13, 14, 13);
    row->setSpacing(12);
    row->addWidget(new SymbolView(symbol, 16, Tones::fixed(accent), {34, 34}, SymbolView::Tile{10, 0.12}), 0,
                   Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    auto* labelRow = new QHBoxLayout;
    labelRow->setSpacing(4);
    auto* label = new ElidedLabel(title.toUpper(), CorvalentStyle::capitalsFont(), Tones::secondary());
    label->setObjectName("metricTitle");
    labelRow->addWidget(label);
    info_ = new InfoButton("About " + title);
    labelRow->addWidget(info_);
    labelRow->addStretch(1);
    column->addLayout(labelRow);

    value_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::figure), Tones::primary());
    value_->setObjectName("metricValue");
    value_->setMinimumScale(0.72);
    column->addWidget(value_);

    auto* stateRow = new QHBoxLayout;
    stateRow->setSpacing(5);
    dot_ = new StateDot;
    stateRow->addWidget(dot_, 0, Qt::AlignVCenter);
    state_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    state_->setObjectName("metricState");
    stateRow->addWidget(state_, 1);
    column->addLayout(stateRow);
    row->addLayout(column, 1);

    // Equal widths: the row shares its width out evenly, whatever the texts.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumWidth(150);
}

void MetricCard::setValue(const QString& value)
{
    value_->setText(value);
}

void MetricCard::setState(const OverviewMetricState& state)
{
    state_->setText(state.text);
    dot_->setColour(state.tint);
}

void MetricCard::setHelp(const QString& help)
{
    help_ = help;
    info_->setAccessibleDescription(help);
}

}  // namespace corvalent::overview
