#include "ui/processes/inspector/process_inspector_cards.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "core/process/processes.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui/processes/inspector/process_inspector_texts.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/symbols.h"

namespace corvalent::inspector {

HeaderCard::HeaderCard(ProcessIconStore& icons, QWidget* parent) : QWidget(parent)
{
    setObjectName("inspectorHeader");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(15);
    icon_ = new ProcessIconView(icons, 62);
    row->addWidget(icon_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::title2, QFont::DemiBold), Tones::primary());
    title_->setObjectName("inspectorTitle");
    title_->setMinimumScale(0.8);
    subtitle_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    subtitle_->setMaximumLines(2);
    statusSymbol_ = new SymbolView(QStringLiteral("checkmark.shield.fill"), 11, Tones::secondary());
    status_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::Medium), Tones::secondary());
    status_->setObjectName("inspectorStatus");
    column->addWidget(title_);
    column->addWidget(subtitle_);
    column->addLayout(symbolLine(statusSymbol_, status_));
    row->addLayout(column, 1);
}

void HeaderCard::setGroup(const ProcessGroup& group)
{
    icon_->setGroup(group);
    title_->setText(QString::fromStdString(group.title));
    subtitle_->setText(QString::fromStdString(group.subtitle));
    const auto status = InspectorTexts::status(group);
    const Tone tone = status.reviewable ? Tones::fixed(CorvalentStyle::teal()) : Tones::secondary();
    statusSymbol_->setSymbol(status.symbol);
    statusSymbol_->setTone(tone);
    status_->setText(status.text);
    status_->setTone(tone);
    setAccessibleName(title_->text());
    setAccessibleDescription(status.text);
}

QString HeaderCard::title() const
{
    return title_->text();
}

QString HeaderCard::subtitle() const
{
    return subtitle_->text();
}

QString HeaderCard::statusText() const
{
    return status_->text();
}

QString HeaderCard::statusSymbol() const
{
    return statusSymbol_->symbol();
}

void HeaderCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    QPainterPath shape;
    shape.addRoundedRect(area, 16, 16);
    painter.save();
    painter.setClipPath(shape);
    CorvalentStyle::paintHeroGradient(painter, area);
    painter.restore();
    CorvalentStyle::paintPanel(painter, area, 16, Qt::transparent,
                               CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.12));
}

StatTile::StatTile(const QString& label, const QString& symbol, QWidget* parent) : PanelSurface(12, parent)
{
    setObjectName("statTile");
    setAccessibleName(label);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);
    auto* caption = new ElidedLabel(label, CorvalentStyle::capitalsFont(0.5), Tones::secondary());
    column->addLayout(symbolLine(new SymbolView(symbol, 10, Tones::secondary()), caption, 4));
    value_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::tileFigure), Tones::primary());
    value_->setObjectName("statValue");
    value_->setMinimumScale(0.7);
    column->addWidget(value_);
    // The three tiles share their row evenly, whatever their figures.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumWidth(80);
}

void StatTile::setValue(const QString& value)
{
    if (value == value_->text()) return;
    value_->setText(value);
    setAccessibleDescription(value);
}

QString StatTile::value() const
{
    return value_->text();
}

ImpactCard::ImpactCard(QWidget* parent) : PanelSurface(13, parent)
{
    setObjectName("impactCard");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(9);
    const auto teal = Tones::fixed(CorvalentStyle::teal());
    column->addLayout(symbolLine(new SymbolView(QStringLiteral("sparkles"), 11, teal),
                               new ElidedLabel(QStringLiteral("Before you stop"),
                                               CorvalentStyle::font(TextStyle::caption, QFont::DemiBold), teal)));
    impact_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::primary());
    impact_->setObjectName("impactText");
    impact_->setWordWrap(true);
    column->addWidget(impact_);
}

void ImpactCard::setImpact(const QString& impact)
{
    if (impact != impact_->text()) impact_->setText(impact);
}

QString ImpactCard::impact() const
{
    return impact_->text();
}

}  // namespace corvalent::inspector
