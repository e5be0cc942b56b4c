#include "ui/overview/disk_space_panel.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "models/disk_model.h"
#include "ui/overview/overview_states.h"
#include "ui/overview/summary_frame.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent::overview {
namespace {

constexpr std::size_t shownItems = 6;

// One top-level item of the scanned folder, in its colour of the disk map.
class DiskChildRow : public QWidget {
public:
    explicit DiskChildRow(QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName("diskChildRow");
        auto* row = new QHBoxLayout(this);
        row->setSpacing(10);
        strip_ = new StateDot;
        strip_->setObjectName("diskStrip");
        strip_->setFixedSize(4, 28);
        row->addWidget(strip_);
        symbol_ = new SymbolView("folder.fill", 14, Tones::secondary(), {20, 20});
        row->addWidget(symbol_);
        name_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary());
        name_->setObjectName("diskChildName");
        row->addWidget(name_, 1);
        row->addSpacing(8);
        bytes_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
        bytes_->setObjectName("diskChildBytes");
        bytes_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        bytes_->setShrinks(false);
        row->addWidget(bytes_);
    }

    void set(const DiskNode& node, const QColor& colour)
    {
        strip_->setColour(colour);
        symbol_->setSymbol(node.isDirectory ? "folder.fill" : "doc.fill");
        symbol_->setTone(Tones::fixed(colour));
        name_->setText(QString::fromStdString(node.name));
        bytes_->setText(bytesText(node.bytes));
    }

private:
    StateDot* strip_;
    SymbolView* symbol_;
    ElidedLabel* name_;
    ElidedLabel* bytes_;
};

ElidedLabel* caption(const QString& name, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* label = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    label->setObjectName(name);
    label->setAlignment(alignment);
    return label;
}

}  // namespace

DiskSpacePanel::DiskSpacePanel(std::function<void()> openDiskSpace, QWidget* parent) : PanelSurface(14, parent)
{
    setObjectName("diskSpacePanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new PanelHeader("Disk Space", "internaldrive", openDiskSpace);
    layout->addWidget(header_);
    layout->addWidget(new Divider(Qt::Horizontal));
    layout->addWidget(capacity_ = capacityBlock());
    layout->addWidget(capacityDivider_ = new Divider(Qt::Horizontal));
    layout->addWidget(scanning_ = scanningView(), 1);
    layout->addWidget(prompt_ = scanPrompt(std::move(openDiskSpace)), 1);
    rows_ = new RowStack(12, 7, 3);
    rows_->setObjectName("diskChildren");
    layout->addWidget(rows_, 1);
    layout->addWidget(new Divider(Qt::Horizontal));
    layout->addWidget(footer_ = new PanelFooter);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(300);
}

// AVAILABLE and the share used over the bar, used and total below it.
QWidget* DiskSpacePanel::capacityBlock()
{
    auto* block = new QWidget;
    block->setObjectName("capacity");
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(18, 15, 18, 15);
    column->setSpacing(10);
    auto* top = new QHBoxLayout;
    auto* figure = new QVBoxLayout;
    figure->setSpacing(3);
    figure->addWidget(new ElidedLabel("AVAILABLE", CorvalentStyle::capitalsFont(), Tones::secondary()));
    available_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::heroFigure), Tones::primary());
    available_->setObjectName("availableBytes");
    figure->addWidget(available_);
    top->addLayout(figure, 1);
    usedPercent_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::secondary());
    usedPercent_->setObjectName("usedPercent");
    usedPercent_->setShrinks(false);
    usedPercent_->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    top->addWidget(usedPercent_, 0, Qt::AlignBottom);
    column->addLayout(top);
    bar_ = new Bar;
    bar_->setObjectName("capacityBar");
    column->addWidget(bar_);
    auto* captions = new QHBoxLayout;
    captions->addWidget(usedCaption_ = caption("usedCaption"));
    captions->addStretch(1);
    captions->addWidget(totalCaption_ = caption("totalCaption", Qt::AlignRight | Qt::AlignVCenter));
    column->addLayout(captions);
    return block;
}

QWidget* DiskSpacePanel::scanningView()
{
    auto* view = new QWidget;
    view->setObjectName("scanningState");
    view->setMinimumHeight(170);
    auto* column = new QVBoxLayout(view);
    column->setSpacing(10);
    column->addStretch(1);
    auto* spinner = new Spinner;
    spinner->setAccessibleName("Scanning");
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    scanningText_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    scanningText_->setObjectName("scanningText");
    scanningText_->setAlignment(Qt::AlignCenter);
    column->addWidget(scanningText_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return view;
}

// Before any scan: what a scan offers and the way to start one.
QWidget* DiskSpacePanel::scanPrompt(std::function<void()> openDiskSpace)
{
    auto* prompt = new QWidget;
    prompt->setObjectName("scanPrompt");
    auto* column = new QVBoxLayout(prompt);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(9);
    column->addStretch(1);
    column->addWidget(new SymbolView("scope", 24, Tones::fixed(CorvalentStyle::teal())), 0, Qt::AlignHCenter);
    auto* headline =
        new ElidedLabel("See what is taking up space", CorvalentStyle::font(TextStyle::headline), Tones::primary());
    headline->setAlignment(Qt::AlignCenter);
    column->addWidget(headline, 0, Qt::AlignHCenter);
    auto* explanation =
        new ElidedLabel("Open Disk Space to scan a disk or folder. Scans are read-only and stay on this computer.",
                        CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    explanation->setMaximumWidth(330);
    // As wide as the panel allows up to its maximum, centred.
    auto* centred = new QHBoxLayout;
    centred->addStretch(0);
    centred->addWidget(explanation, 1);
    centred->addStretch(0);
    column->addLayout(centred);
    column->addSpacing(3);
    auto* open = new Button(Button::Kind::prominent, "Open Disk Space");
    connect(open, &QAbstractButton::clicked, this, [openDiskSpace = std::move(openDiskSpace)] { openDiskSpace(); });
    column->addWidget(open, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return prompt;
}

void DiskSpacePanel::showCapacity(const DiskModel& model)
{
    const auto& capacity = model.capacity();
    capacity_->setVisible(capacity.has_value());
    capacityDivider_->setVisible(capacity.has_value());
    if (!capacity) return;
    available_->setText(bytesText(capacity->available));
    const double fraction = capacity->usedFraction();
    const bool nearlyFull = fraction > 0.9;
    usedPercent_->setText(QString::number(static_cast<long long>(std::round(fraction * 100))) + "% used");
    usedPercent_->setTone(nearlyFull ? Tones::fixed(CorvalentStyle::orange()) : Tones::secondary());
    bar_->setFraction(fraction);
    bar_->setTint(capacity->total > 0 && nearlyFull ? CorvalentStyle::orange() : CorvalentStyle::teal());
    usedCaption_->setText(bytesText(capacity->used()) + " used");
    totalCaption_->setText(bytesText(capacity->total) + " total");
}

QSize DiskSpacePanel::minimumSizeHint() const
{
    const auto content = PanelSurface::minimumSizeHint();
    return {content.width(), std::max(content.height(), 340)};
}

void DiskSpacePanel::refresh(const DiskModel& model)
{
    const auto volume = model.selectedVolume();
    header_->setSubtitle(volume ? QString::fromStdString(volume->name) : QString("Loading disks"));
    showCapacity(model);

    const bool scanning = model.status().kind == DiskModelStatus::Kind::scanning;
    const auto& result = model.result();
    scanning_->setVisible(scanning);
    prompt_->setVisible(!scanning && !result);
    rows_->setVisible(!scanning && result);
    if (scanning) scanningText_->setText("Mapping " + groupedCount(model.scannedEntries()) + " items");
    if (!scanning && result) {
        const auto& nodes = result->root.children;
        const auto count = std::min(nodes.size(), shownItems);
        rows_->resize(count, [] { return new DiskChildRow; });
        const auto& colours = CorvalentStyle::diskPalette();
        for (std::size_t i = 0; i < count; ++i)
            static_cast<DiskChildRow*>(rows_->row(i))->set(nodes[i], colours[i % colours.size()]);
    }
    footer_->set(storageOverviewFooter(model));
}

}  // namespace corvalent::overview
