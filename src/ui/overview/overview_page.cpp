#include "ui/overview/overview_page.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include "core/display.h"
#include "core/saturating.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/pressable_row.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace overview {
namespace {

constexpr int panelRowMinimum = 450;
constexpr int visibleGroupRows = 7;
constexpr int visibleDiskRows = 6;

QString bytesText(std::uint64_t bytes)
{
    return QString::fromStdString(Display::bytes(bytes));
}

}  // namespace

class MetricCard : public PanelSurface {
public:
    MetricCard(const QString& title, const QString& symbol, const QColor& accent, QWidget* parent = nullptr)
        : PanelSurface(14, parent), title_(title)
    {
        setColours(
            [](const QPalette& palette) { return CorvalentStyle::withAlpha(CorvalentStyle::panel(palette), 0.76); },
            CorvalentStyle::softBorder);
        setObjectName("metricCard");
        setAccessibleName(title);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(14, 13, 14, 13);
        row->setSpacing(12);
        row->addWidget(new SymbolView(symbol, 16, Tones::fixed(accent), {34, 34}, SymbolView::Tile{10, 0.12}), 0,
                       Qt::AlignVCenter);

        auto* column = new QVBoxLayout;
        column->setSpacing(3);
        auto* labelRow = new QHBoxLayout;
        labelRow->setSpacing(4);
        auto* label = new ElidedLabel(title.toUpper(), CorvalentStyle::capitalsFont(), Tones::secondary());
        labelRow->addWidget(label);
        info_ = new InfoButton("About " + title);
        labelRow->addWidget(info_);
        labelRow->addStretch(1);
        column->addLayout(labelRow);

        value_ = new ElidedLabel({}, CorvalentStyle::font(20, QFont::DemiBold), Tones::primary());
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

    const QString& title() const { return title_; }
    const QString& help() const { return help_; }
    InfoButton* infoButton() const { return info_; }

    void setValue(const QString& value) { value_->setText(value); }
    void setState(const OverviewMetricState& state)
    {
        state_->setText(state.text);
        dot_->setColour(state.tint);
    }
    void setHelp(const QString& help)
    {
        help_ = help;
        info_->setAccessibleDescription(help);
    }

private:
    QString title_;
    QString help_;
    InfoButton* info_;
    ElidedLabel* value_;
    StateDot* dot_;
    ElidedLabel* state_;
};

// A card's help, floating over the page below its button.
class HelpPopover : public QWidget {
public:
    explicit HelpPopover(QWidget* parent) : QWidget(parent)
    {
        setObjectName("helpPopover");
        // It only shows text: the pointer keeps reaching what lies below.
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 12);
        text_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::primary());
        text_->setWordWrap(true);
        text_->setFixedWidth(240);
        layout->addWidget(text_);
        hide();
    }
    void setText(const QString& text)
    {
        text_->setText(text);
        adjustSize();
    }
    QString text() const { return text_->text(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(CorvalentStyle::border(palette()), 1));
        painter.setBrush(CorvalentStyle::windowBackground(palette()));
        painter.drawRoundedRect(area, 10, 10);
    }

private:
    ElidedLabel* text_;
};

namespace {

// Symbol tile, title over subtitle, and the link to the workspace.
class PanelHeader : public QWidget {
public:
    PanelHeader(const QString& title, const QString& symbol, std::function<void()> viewAll, QWidget* parent = nullptr)
        : QWidget(parent)
    {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(16, 16, 16, 16);
        row->setSpacing(11);
        row->addWidget(
            new SymbolView(symbol, 15, Tones::fixed(CorvalentStyle::teal()), {32, 32}, SymbolView::Tile{9, 0.1}));
        auto* column = new QVBoxLayout;
        column->setSpacing(1);
        auto* heading = new ElidedLabel(title, CorvalentStyle::font(TextStyle::headline), Tones::primary());
        heading->setShrinks(false);
        column->addWidget(heading);
        subtitle_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        subtitle_->setObjectName("panelSubtitle");
        column->addWidget(subtitle_);
        row->addLayout(column, 1);
        auto* link = new Button(Button::Kind::link, "View all");
        QObject::connect(link, &QAbstractButton::clicked, link, [viewAll = std::move(viewAll)] { viewAll(); });
        row->addWidget(link, 0, Qt::AlignVCenter);
    }
    void setSubtitle(const QString& text) { subtitle_->setText(text); }

private:
    ElidedLabel* subtitle_;
};

// The panel's last line: what the summary is based on.
class PanelFooter : public QWidget {
public:
    explicit PanelFooter(QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName("panelFooter");
        setFixedHeight(42);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(16, 0, 16, 0);
        row->setSpacing(6);
        symbol_ = new SymbolView("clock", 11, Tones::fixed(CorvalentStyle::teal()));
        row->addWidget(symbol_);
        title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::Medium), Tones::primary());
        title_->setObjectName("footerTitle");
        title_->setShrinks(false);
        row->addWidget(title_);
        row->addSpacing(8);
        row->addStretch(1);
        detail_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
        detail_->setObjectName("footerDetail");
        detail_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(detail_, 0);
    }
    void set(const StorageFooter& footer)
    {
        symbol_->setSymbol(footer.symbol);
        title_->setText(footer.title);
        detail_->setText(footer.detail);
        detail_->setToolTip(footer.help.value_or(footer.detail));
    }

private:
    SymbolView* symbol_;
    ElidedLabel* title_;
    ElidedLabel* detail_;
};

// One group of running work; pressing it opens that group in the workspace.
class GroupRow : public PressableRow {
public:
    GroupRow(std::function<void(const std::string&)> open, QWidget* parent = nullptr) : PressableRow(parent)
    {
        setObjectName("groupRow");
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(10, 3, 10, 3);
        row->setSpacing(10);
        icon_ = new SymbolView("app", 15, Tones::fixed(CorvalentStyle::teal()), {30, 30}, SymbolView::Tile{8, 0.1});
        row->addWidget(icon_);
        title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary());
        title_->setObjectName("groupTitle");
        row->addWidget(title_, 1);
        auto* figures = new QVBoxLayout;
        figures->setSpacing(0);
        memory_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
        memory_->setObjectName("groupMemory");
        memory_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        memory_->setShrinks(false);
        figures->addWidget(memory_);
        cpu_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
        cpu_->setObjectName("groupCPU");
        cpu_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        cpu_->setShrinks(false);
        figures->addWidget(cpu_);
        row->addLayout(figures);
        row->addWidget(new SymbolView("chevron.right", 10, Tones::tertiary()));
        connect(this, &QAbstractButton::clicked, this, [this, open = std::move(open)] {
            // A copy: the handler may change what this row shows.
            const auto id = id_;
            open(id);
        });
    }

    const std::string& id() const { return id_; }

    void setGroup(const ProcessGroup& group)
    {
        id_ = group.id;
        const auto title = QString::fromStdString(group.title);
        icon_->setSymbol(QString::fromStdString(group.symbol));
        title_->setText(title);
        setAccessibleName(title);
        memory_->setText(bytesText(group.memory));
        cpu_->setText(group.cpu ? QString::asprintf("%.1f%% CPU", *group.cpu) : QStringLiteral("CPU \u2014"));
    }

private:
    std::string id_;
    SymbolView* icon_;
    ElidedLabel* title_;
    ElidedLabel* memory_;
    ElidedLabel* cpu_;
};

QWidget* totalColumn(const QString& label, ElidedLabel*& value, const QString& name)
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new ElidedLabel(label, CorvalentStyle::capitalsFont(), Tones::secondary()));
    value = new ElidedLabel({}, CorvalentStyle::font(17, QFont::DemiBold), Tones::primary());
    value->setObjectName(name);
    layout->addWidget(value);
    column->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return column;
}

// A message centred in the space it is given.
QWidget* centredMessage(const QString& symbol, const QString& text)
{
    auto* box = new QWidget;
    box->setObjectName("emptyState");
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolView(symbol, 22, Tones::secondary()), 0, Qt::AlignHCenter);
    auto* label = new ElidedLabel(text, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    box->setMinimumHeight(240);
    box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    return box;
}

// A layout's widget rows, reused by position so that a refresh only changes texts.
template <typename Row, typename Make>
void resizeRows(std::vector<Row*>& rows, QVBoxLayout* layout, std::size_t count, Make make)
{
    while (rows.size() < count) {
        auto* row = make();
        layout->insertWidget(static_cast<int>(rows.size()), row);
        rows.push_back(row);
    }
    while (rows.size() > count) {
        auto* row = rows.back();
        rows.pop_back();
        layout->removeWidget(row);
        row->hide();
        // It may be the row whose click is being handled.
        row->deleteLater();
    }
}

}  // namespace

class RunningWorkPanel : public PanelSurface {
public:
    RunningWorkPanel(std::function<void()> viewAll, std::function<void(const std::string&)> open,
                     QWidget* parent = nullptr)
        : PanelSurface(14, parent), open_(std::move(open))
    {
        setObjectName("runningWorkPanel");
        setMinimumHeight(340);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        header_ = new PanelHeader("Running work", "waveform.path.ecg", std::move(viewAll));
        layout->addWidget(header_);
        layout->addWidget(new Divider(Qt::Horizontal));
        empty_ = centredMessage("arrow.triangle.2.circlepath", "Reading processes\u2026");
        layout->addWidget(empty_, 1);

        totals_ = new QWidget;
        totals_->setObjectName("totals");
        totals_->setAutoFillBackground(false);
        auto* totalsRow = new QHBoxLayout(totals_);
        totalsRow->setContentsMargins(16, 13, 16, 13);
        totalsRow->setSpacing(14);
        totalsRow->addWidget(totalColumn("FOOTPRINT", footprint_, "footprintValue"), 1);
        totalsRow->addWidget(new Divider(Qt::Vertical, 34), 0, Qt::AlignVCenter);
        totalsRow->addWidget(totalColumn("PROCESSES", processes_, "processesValue"), 1);
        totalsRow->addWidget(new Divider(Qt::Vertical, 34), 0, Qt::AlignVCenter);
        totalsRow->addWidget(totalColumn("AVAILABLE", available_, "availableValue"), 1);
        layout->addWidget(totals_);
        totalsDivider_ = new Divider(Qt::Horizontal);
        layout->addWidget(totalsDivider_);

        content_ = new QWidget;
        rows_ = new QVBoxLayout(content_);
        rows_->setContentsMargins(8, 4, 8, 4);
        rows_->setSpacing(1);
        rows_->addStretch(1);
        layout->addWidget(content_, 1);
        footerDivider_ = new Divider(Qt::Horizontal);
        layout->addWidget(footerDivider_);
        footer_ = new PanelFooter;
        layout->addWidget(footer_);

        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(300);
    }

    void refresh(const std::vector<ProcessGroup>& groups, const QDateTime& refreshed)
    {
        header_->setSubtitle(groupedCount(static_cast<std::int64_t>(groups.size())) + " visible groups");
        const bool empty = groups.empty();
        empty_->setVisible(empty);
        for (auto* part : {totals_, totalsDivider_, content_, footerDivider_, static_cast<QWidget*>(footer_)})
            part->setVisible(!empty);
        if (empty) return;

        std::uint64_t memory = 0;
        std::int64_t processes = 0;
        std::int64_t available = 0;
        for (const auto& group : groups) {
            memory = saturatingAdd(memory, group.memory);
            processes = saturatingAdd(processes, static_cast<std::int64_t>(group.members.size()));
            available = saturatingAdd(available, static_cast<std::int64_t>(group.stoppable.size()));
        }
        footprint_->setText(bytesText(memory));
        processes_->setText(groupedCount(processes));
        available_->setText(groupedCount(available));

        const auto count = std::min<std::size_t>(groups.size(), visibleGroupRows);
        resizeRows(rowWidgets_, rows_, count, [this] { return new GroupRow(open_); });
        for (std::size_t i = 0; i < count; ++i) rowWidgets_[i]->setGroup(groups[i]);
        footer_->set({"Process activity", processRefreshDetail(refreshed), "clock", std::nullopt});
    }

private:
    std::function<void(const std::string&)> open_;
    PanelHeader* header_;
    QWidget* empty_;
    QWidget* totals_;
    ElidedLabel* footprint_ = nullptr;
    ElidedLabel* processes_ = nullptr;
    ElidedLabel* available_ = nullptr;
    QWidget* totalsDivider_;
    QWidget* content_;
    QVBoxLayout* rows_;
    std::vector<GroupRow*> rowWidgets_;
    QWidget* footerDivider_;
    PanelFooter* footer_;
};

namespace {

// One top-level item of the scanned folder.
class DiskChildRow : public QWidget {
public:
    explicit DiskChildRow(QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName("diskChildRow");
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(4, 3, 4, 3);
        row->setSpacing(10);
        strip_ = new StateDot;
        strip_->setObjectName("diskStrip");
        strip_->setFixedSize(4, 28);
        row->addWidget(strip_);
        symbol_ = new SymbolView("folder.fill", 14, Tones::fixed(Qt::black));
        row->addWidget(symbol_);
        name_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary());
        name_->setObjectName("diskChildName");
        row->addWidget(name_, 1);
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

}  // namespace

class DiskSpacePanel : public PanelSurface {
public:
    DiskSpacePanel(std::function<void()> openDiskSpace, QWidget* parent = nullptr) : PanelSurface(14, parent)
    {
        setObjectName("diskSpacePanel");
        setMinimumHeight(340);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        header_ = new PanelHeader("Disk Space", "internaldrive", openDiskSpace);
        layout->addWidget(header_);
        layout->addWidget(new Divider(Qt::Horizontal));

        capacity_ = new QWidget;
        capacity_->setObjectName("capacity");
        auto* block = new QVBoxLayout(capacity_);
        block->setContentsMargins(18, 15, 18, 15);
        block->setSpacing(8);
        auto* top = new QHBoxLayout;
        auto* figure = new QVBoxLayout;
        figure->setSpacing(2);
        figure->addWidget(new ElidedLabel("AVAILABLE", CorvalentStyle::capitalsFont(), Tones::secondary()));
        available_ = new ElidedLabel({}, CorvalentStyle::font(25, QFont::DemiBold), Tones::primary());
        available_->setObjectName("availableBytes");
        figure->addWidget(available_);
        top->addLayout(figure, 1);
        usedPercent_ =
            new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::secondary());
        usedPercent_->setObjectName("usedPercent");
        usedPercent_->setShrinks(false);
        usedPercent_->setAlignment(Qt::AlignRight | Qt::AlignBottom);
        top->addWidget(usedPercent_, 0, Qt::AlignBottom);
        block->addLayout(top);
        bar_ = new Bar;
        bar_->setObjectName("capacityBar");
        block->addWidget(bar_);
        auto* captions = new QHBoxLayout;
        usedCaption_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        usedCaption_->setObjectName("usedCaption");
        captions->addWidget(usedCaption_);
        captions->addStretch(1);
        totalCaption_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        totalCaption_->setObjectName("totalCaption");
        totalCaption_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        captions->addWidget(totalCaption_);
        block->addLayout(captions);
        layout->addWidget(capacity_);
        capacityDivider_ = new Divider(Qt::Horizontal);
        layout->addWidget(capacityDivider_);

        // While a scan runs.
        scanning_ = new QWidget;
        scanning_->setObjectName("scanningState");
        auto* busy = new QVBoxLayout(scanning_);
        busy->setSpacing(10);
        busy->addStretch(1);
        auto* spinner = new Bar;
        spinner->setIndeterminate(true);
        spinner->setFixedSize(180, 6);
        spinner->setAccessibleName("Scanning");
        busy->addWidget(spinner, 0, Qt::AlignHCenter);
        scanningText_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
        scanningText_->setObjectName("scanningText");
        scanningText_->setAlignment(Qt::AlignCenter);
        busy->addWidget(scanningText_, 0, Qt::AlignHCenter);
        busy->addStretch(1);
        layout->addWidget(scanning_, 1);

        // Before any scan: what a scan offers and the way to start one.
        prompt_ = new QWidget;
        prompt_->setObjectName("scanPrompt");
        auto* invite = new QVBoxLayout(prompt_);
        invite->setContentsMargins(24, 16, 24, 16);
        invite->setSpacing(8);
        invite->addStretch(1);
        invite->addWidget(new SymbolView("scope", 24, Tones::fixed(CorvalentStyle::teal())), 0, Qt::AlignHCenter);
        auto* headline = new ElidedLabel("See what is taking up space",
                                      CorvalentStyle::font(TextStyle::headline), Tones::primary());
        headline->setAlignment(Qt::AlignCenter);
        invite->addWidget(headline, 0, Qt::AlignHCenter);
        auto* explanation = new ElidedLabel(
            "Open Disk Space to scan a disk or folder. Scans are read-only and stay on this computer.",
            CorvalentStyle::font(TextStyle::callout), Tones::secondary());
        explanation->setWordWrap(true);
        explanation->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        explanation->setMaximumWidth(330);
        // As wide as the panel allows up to its maximum, centred: the spacers
        // take only what the text cannot.
        auto* centred = new QHBoxLayout;
        centred->addStretch(0);
        centred->addWidget(explanation, 1);
        centred->addStretch(0);
        invite->addLayout(centred);
        invite->addSpacing(4);
        auto* open = new Button(Button::Kind::prominent, "Open Disk Space");
        connect(open, &QAbstractButton::clicked, this, [openDiskSpace] { openDiskSpace(); });
        invite->addWidget(open, 0, Qt::AlignHCenter);
        invite->addStretch(1);
        layout->addWidget(prompt_, 1);

        // After a scan: the largest items at the top of the scanned folder.
        children_ = new QWidget;
        children_->setObjectName("diskChildren");
        rows_ = new QVBoxLayout(children_);
        rows_->setContentsMargins(14, 8, 14, 8);
        rows_->setSpacing(2);
        rows_->addStretch(1);
        layout->addWidget(children_, 1);

        layout->addWidget(new Divider(Qt::Horizontal));
        footer_ = new PanelFooter;
        layout->addWidget(footer_);

        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(300);
    }

    void refresh(const DiskModel& model)
    {
        const auto volume = model.selectedVolume();
        header_->setSubtitle(volume ? QString::fromStdString(volume->name) : QString("Loading disks"));

        const auto& capacity = model.capacity();
        capacity_->setVisible(capacity.has_value());
        capacityDivider_->setVisible(capacity.has_value());
        if (capacity) {
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

        const bool scanning = model.status().kind == DiskModelStatus::Kind::scanning;
        const auto& result = model.result();
        scanning_->setVisible(scanning);
        prompt_->setVisible(!scanning && !result);
        children_->setVisible(!scanning && result);
        if (scanning) scanningText_->setText("Mapping " + groupedCount(model.scannedEntries()) + " items");
        if (!scanning && result) {
            const auto& nodes = result->root.children;
            const auto count = std::min<std::size_t>(nodes.size(), visibleDiskRows);
            resizeRows(rowWidgets_, rows_, count, [] { return new DiskChildRow; });
            const auto& colours = CorvalentStyle::diskPalette();
            for (std::size_t i = 0; i < count; ++i) rowWidgets_[i]->set(nodes[i], colours[i % colours.size()]);
        }
        footer_->set(storageOverviewFooter(model));
    }

private:
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
    QWidget* children_;
    QVBoxLayout* rows_;
    std::vector<DiskChildRow*> rowWidgets_;
    PanelFooter* footer_;
};

}  // namespace overview

using overview::MetricCard;

namespace {

const QString memoryTitle = QStringLiteral("Memory pressure");
const QString cpuTitle = QStringLiteral("Measured CPU");
const QString diskTitle = QStringLiteral("Disk available");
const QString swapTitle = QStringLiteral("Swap memory");

}  // namespace

OverviewPage::OverviewPage(VantleModel& model, DiskModel& diskModel, QWidget* parent)
    : QWidget(parent), model_(model), diskModel_(diskModel), activeCores_(activeCoreCount()),
      physicalMemory_(physicalMemoryBytes())
{
    setObjectName("overviewPage");
    setFont(CorvalentStyle::font(TextStyle::body));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll_);

    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(22);

    auto* titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(4);
    auto* title = new ElidedLabel("Your computer, in balance", CorvalentStyle::font(28, QFont::Bold),
                                         Tones::primary());
    title->setObjectName("pageTitle");
    titleBlock->addWidget(title);
    auto* subtitle = new ElidedLabel(
        "Processes and storage together, with clear actions when something gets heavy.",
        CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    subtitle->setWordWrap(true);
    titleBlock->addWidget(subtitle);
    column->addLayout(titleBlock);

    auto* cardRow = new QHBoxLayout;
    cardRow->setSpacing(12);
    const std::array<std::tuple<QString, QString, QColor>, 4> cards{{
        {memoryTitle, "gauge.with.dots.needle.50percent", CorvalentStyle::teal()},
        {cpuTitle, "speedometer", CorvalentStyle::cyan()},
        {diskTitle, "internaldrive", CorvalentStyle::indigo()},
        {swapTitle, "memorychip", CorvalentStyle::teal()},
    }};
    for (std::size_t i = 0; i < cards.size(); ++i) {
        const auto& [cardTitle, symbol, accent] = cards[i];
        auto* card = new MetricCard(cardTitle, symbol, accent);
        auto* info = card->infoButton();
        const QString key = cardTitle;
        info->entered = [this, key] { helpEntered(key); };
        info->left = [this, key] { helpLeft(key); };
        connect(info, &QAbstractButton::clicked, this, [this, key] { helpClicked(key); });
        cards_[i] = card;
        cardRow->addWidget(card, 1);
    }
    cards_[0]->setHelp("RAM health. Uses free, wired, cached, and swap activity. CPU is measured separately.");
    cards_[1]->setHelp(cpuMetricHelp(activeCores_));
    cards_[3]->setHelp("RAM temporarily moved to disk. Some is normal; sustained heavy use can slow apps.");
    column->addLayout(cardRow);

    panelRow_ = new QWidget;
    auto* panels = new QHBoxLayout(panelRow_);
    panels->setContentsMargins(0, 0, 0, 0);
    panels->setSpacing(16);
    runningWork_ = new overview::RunningWorkPanel([this] { emit openProcesses(); },
                                                  [this](const std::string& id) {
                                                      model_.setFocused(id);
                                                      emit openProcesses();
                                                  });
    panels->addWidget(runningWork_, 1);
    diskSpace_ = new overview::DiskSpacePanel([this] { emit openDiskSpace(); });
    panels->addWidget(diskSpace_, 1);
    // The panels take the height the title and cards leave, never less than
    // their minimum: below that the page scrolls.
    panelRow_->setMinimumHeight(overview::panelRowMinimum);
    panelRow_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    column->addWidget(panelRow_, 1);
    scroll_->setWidget(content);

    popover_ = new overview::HelpPopover(this);
    helpTimer_.setSingleShot(true);
    helpTimer_.setInterval(60);
    connect(&helpTimer_, &QTimer::timeout, this, [this] { openHelp(pendingHelp_); });
    // The popover does not scroll with its card: scrolling closes it.
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { closeHelp(); });


    connect(&model_, &VantleModel::snapshotChanged, this, &OverviewPage::refreshProcesses);
    connect(&model_, &VantleModel::visibleChanged, this, &OverviewPage::refreshProcesses);
    connect(&model_, &VantleModel::lastRefreshedAtChanged, this, &OverviewPage::refreshProcesses);
    connect(&diskModel_, &DiskModel::changed, this, &OverviewPage::refreshDisk);
    connect(&diskModel_, &DiskModel::progressChanged, this, &OverviewPage::refreshDisk);
    refreshProcesses();
    refreshDisk();
}

OverviewPage::~OverviewPage() = default;

void OverviewPage::refreshProcesses()
{
    cards_[0]->setValue(model_.pressure());
    cards_[0]->setState(memoryOverviewState(model_.pressure(), palette()));
    const auto cpu = model_.measuredCPU();
    cards_[1]->setValue(cpu ? QString::number(*cpu, 'f', 0) + "%" : QString("Unavailable"));
    cards_[1]->setState(cpuOverviewState(cpu, activeCores_, palette()));
    cards_[3]->setValue(model_.swap());
    const auto& snapshot = model_.snapshot();
    cards_[3]->setState(
        swapOverviewState(snapshot ? snapshot->result.swap : std::nullopt, physicalMemory_, palette()));
    runningWork_->refresh(model_.groups(), model_.lastRefreshedAt());
}

void OverviewPage::refreshDisk()
{
    const auto& capacity = diskModel_.capacity();
    cards_[2]->setValue(capacity ? QString::fromStdString(Display::bytes(capacity->available))
                                 : QStringLiteral("Reading\u2026"));
    cards_[2]->setState(diskOverviewState(capacity, palette()));
    cards_[2]->setHelp(diskMetricHelp(capacity));
    if (openHelp_ == diskTitle) popover_->setText(cards_[2]->help());
    diskSpace_->refresh(diskModel_);
}

void OverviewPage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    auto background = CorvalentStyle::windowBackground(palette());
    background.setAlphaF(0.72f);
    painter.fillRect(rect(), background);
}

void OverviewPage::hideEvent(QHideEvent* event)
{
    closeHelp();
    QWidget::hideEvent(event);
}

void OverviewPage::changeEvent(QEvent* event)
{
    // Neutral tints come from the palette: follow a switch between light and dark.
    if (event->type() == QEvent::PaletteChange && runningWork_ != nullptr) {
        refreshProcesses();
        refreshDisk();
    }
    QWidget::changeEvent(event);
}

MetricCard* OverviewPage::card(const QString& title) const
{
    for (auto* card : cards_)
        if (card->title() == title) return card;
    return nullptr;
}

void OverviewPage::helpEntered(const QString& title)
{
    if (openHelp_ == title) return;
    pendingHelp_ = title;
    helpTimer_.start();
}

void OverviewPage::helpLeft(const QString& title)
{
    if (pendingHelp_ == title) {
        helpTimer_.stop();
        pendingHelp_.clear();
    }
    if (openHelp_ == title) closeHelp();
}

void OverviewPage::helpClicked(const QString& title)
{
    helpTimer_.stop();
    pendingHelp_.clear();
    if (openHelp_ == title)
        closeHelp();
    else
        openHelp(title);
}

void OverviewPage::openHelp(QString title)
{
    auto* owner = card(title);
    if (owner == nullptr || !isVisible()) return;
    pendingHelp_.clear();
    openHelp_ = title;
    popover_->setText(owner->help());
    auto* button = owner->infoButton();
    const auto below = button->mapTo(this, QPoint(button->width() / 2, button->height()));
    int x = below.x() - popover_->width() / 2;
    x = std::clamp(x, 8, std::max(8, width() - popover_->width() - 8));
    int y = below.y() + 6;
    // Above the button when there is no room below it.
    if (y + popover_->height() > height() - 8) y = below.y() - button->height() - 6 - popover_->height();
    popover_->move(x, std::max(0, y));
    popover_->show();
    popover_->raise();
}

void OverviewPage::closeHelp()
{
    helpTimer_.stop();
    pendingHelp_.clear();
    openHelp_.reset();
    if (popover_ != nullptr) popover_->hide();
}

}  // namespace corvalent
