#include "ui/overview/overview_page.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <tuple>

#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "ui/overview/disk_space_panel.h"
#include "ui/overview/help_popover.h"
#include "ui/overview/metric_card.h"
#include "ui/overview/overview_states.h"
#include "ui/overview/running_work_panel.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/scroll_focus.h"
#include "ui/widgets/section_title.h"

namespace corvalent {

using overview::MetricCard;

namespace {

constexpr int panelRowMinimum = 450;

const QString memoryTitle = QStringLiteral("Memory pressure");
const QString cpuTitle = QStringLiteral("Measured CPU");
const QString diskTitle = QStringLiteral("Disk available");
const QString swapTitle = QStringLiteral("Swap memory");

}  // namespace

OverviewPage::OverviewPage(VantleModel& model, DiskModel& diskModel, QWidget* parent, ProcessIconStore* icons)
    : QWidget(parent),
      model_(model),
      diskModel_(diskModel),
      icons_(icons),
      activeCores_(activeCoreCount()),
      physicalMemory_(physicalMemoryBytes())
{
    setObjectName("overviewPage");
    setFont(CorvalentStyle::font(TextStyle::body));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea;
    scroll_->setAccessibleName(QStringLiteral("Overview"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll_);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(22);
    column->addWidget(new SectionTitle(
        "Your computer, in balance", "Processes and storage together, with clear actions when something gets heavy."));
    column->addWidget(cardRow());
    column->addWidget(panelRow(), 1);
    scroll_->setWidget(content);
    // Nothing here is opaque: the window's background and hero gradient show
    // through. Both the viewport and a scroll area's widget fill by default.
    scroll_->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    followKeyboard(*scroll_);
    // Lies over the page's right padding, so the cards keep their width when the page scrolls.
    new OverlayScrollBar(*scroll_);

    help_ = new overview::HelpPopover(*this, [this](const QString& title) {
        auto* owner = card(title);
        return overview::HelpPopover::Anchor{owner ? owner->infoButton() : nullptr, owner ? owner->help() : QString()};
    });
    // The popover does not scroll with its card: scrolling closes it.
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { help_->close(); });

    connect(&model_, &VantleModel::snapshotChanged, this, &OverviewPage::refreshProcesses);
    connect(&model_, &VantleModel::visibleChanged, this, &OverviewPage::refreshProcesses);
    connect(&model_, &VantleModel::lastRefreshedAtChanged, this, &OverviewPage::refreshProcesses);
    for (auto signal :
         {&DiskModel::volumesChanged, &DiskModel::scanChanged, &DiskModel::progressChanged, &DiskModel::resultChanged})
        connect(&diskModel_, signal, this, &OverviewPage::refreshDisk);
    refreshProcesses();
    refreshDisk();
}

OverviewPage::~OverviewPage() = default;

QWidget* OverviewPage::cardRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    const std::array<std::tuple<QString, QString, QColor>, 4> cards{{
        {memoryTitle, "gauge.with.dots.needle.50percent", CorvalentStyle::teal()},
        {cpuTitle, "speedometer", CorvalentStyle::cyan()},
        {diskTitle, "internaldrive", CorvalentStyle::indigo()},
        {swapTitle, "memorychip", CorvalentStyle::teal()},
    }};
    for (std::size_t i = 0; i < cards.size(); ++i) {
        const auto& [title, symbol, accent] = cards[i];
        auto* card = new MetricCard(title, symbol, accent);
        auto* info = card->infoButton();
        const QString key = title;
        info->entered = [this, key] { help_->entered(key); };
        info->left = [this, key] { help_->left(key); };
        connect(info, &QAbstractButton::clicked, this, [this, key] { help_->clicked(key); });
        cards_[i] = card;
        layout->addWidget(card, 1);
    }
    cards_[0]->setHelp(
        "RAM health. Uses available memory (free plus reclaimable cache) and how long programs waited for memory "
        "in the last 10 seconds. CPU is measured separately.");
    cards_[1]->setHelp(cpuMetricHelp(activeCores_));
    cards_[3]->setHelp("RAM temporarily moved to disk. Some is normal; sustained heavy use can slow apps.");
    return row;
}

// The two summaries share the width and take the height the title and cards
// leave, never less than their minimum: below that the page scrolls.
QWidget* OverviewPage::panelRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    runningWork_ = new overview::RunningWorkPanel([this] { emit openProcesses(); },
                                                  [this](const std::string& id) {
                                                      model_.setFocused(id);
                                                      emit openProcesses();
                                                  },
                                                  icons_);
    layout->addWidget(runningWork_, 1);
    diskSpace_ = new overview::DiskSpacePanel([this] { emit openDiskSpace(); });
    layout->addWidget(diskSpace_, 1);
    // A floor of its own that the panels' content can still raise.
    layout->addItem(new QSpacerItem(0, panelRowMinimum, QSizePolicy::Fixed, QSizePolicy::Minimum));
    row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    return row;
}

void OverviewPage::refreshProcesses()
{
    cards_[0]->setValue(memoryPressureText(model_.pressure()));
    cards_[0]->setState(memoryOverviewState(model_.pressure(), palette()));
    const auto cpu = model_.measuredCPU();
    cards_[1]->setValue(cpu ? QString::number(*cpu, 'f', 0) + "%" : QString("Unavailable"));
    cards_[1]->setState(cpuOverviewState(cpu, activeCores_, palette()));
    cards_[3]->setValue(model_.swap());
    const auto& snapshot = model_.snapshot();
    cards_[3]->setState(swapOverviewState(snapshot ? snapshot->result.swap : std::nullopt, physicalMemory_, palette()));
    runningWork_->refresh(model_);
}

void OverviewPage::refreshDisk()
{
    const auto& capacity = diskModel_.capacity();
    cards_[2]->setValue(capacity ? bytesText(capacity->available) : QStringLiteral("Reading\u2026"));
    cards_[2]->setState(diskOverviewState(capacity, palette()));
    cards_[2]->setHelp(diskMetricHelp(capacity));
    if (help_->openTitle() == diskTitle) help_->refresh();
    diskSpace_->refresh(diskModel_);
}

void OverviewPage::hideEvent(QHideEvent* event)
{
    help_->close();
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

}  // namespace corvalent
