#include "ui/overview/running_work_panel.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "core/common/saturating.h"
#include "models/vantle_model.h"
#include "ui/overview/overview_states.h"
#include "ui/overview/summary_frame.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/pressable_row.h"
#include "ui/widgets/symbols.h"

namespace corvalent::overview {
namespace {

constexpr std::size_t shownGroups = 7;

// One group of running work; pressing it opens that group in the workspace.
class GroupRow : public PressableRow {
public:
    GroupRow(std::function<void(const std::string&)> open, ProcessIconStore* icons, QWidget* parent = nullptr)
        : PressableRow(parent)
    {
        setObjectName("groupRow");
        auto* row = new QHBoxLayout(this);
        row->setSpacing(11);
        if (icons != nullptr) {
            icon_ = new ProcessIconView(*icons, 30);
            row->addWidget(icon_);
        } else {
            symbol_ = new SymbolView("app", 15, Tones::fixed(CorvalentStyle::teal()), {30, 30}, SymbolView::Tile{8, 0.1});
            row->addWidget(symbol_);
        }
        title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary());
        title_->setObjectName("groupTitle");
        row->addWidget(title_, 1);
        row->addSpacing(8);
        auto* figures = new QVBoxLayout;
        figures->setSpacing(2);
        memory_ = figure(CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary(), "groupMemory");
        figures->addWidget(memory_);
        cpu_ = figure(CorvalentStyle::font(TextStyle::caption2), Tones::secondary(), "groupCPU");
        figures->addWidget(cpu_);
        row->addLayout(figures);
        row->addWidget(new SymbolView("chevron.right", 10, Tones::tertiary()));
        connect(this, &QAbstractButton::clicked, this, [this, open = std::move(open)] {
            // A copy: the handler may change what this row shows.
            const auto id = id_;
            open(id);
        });
    }

    void setGroup(const ProcessGroup& group)
    {
        id_ = group.id;
        const auto title = QString::fromStdString(group.title);
        if (icon_ != nullptr) icon_->setGroup(group);
        if (symbol_ != nullptr) symbol_->setSymbol(QString::fromStdString(group.symbol));
        title_->setText(title);
        setAccessibleName(title);
        memory_->setText(bytesText(group.memory));
        cpu_->setText(group.cpu ? QString::asprintf("%.1f%% CPU", *group.cpu) : QStringLiteral("CPU \u2014"));
        setAccessibleDescription(memory_->text() + ", " + cpu_->text());
    }

private:
    static ElidedLabel* figure(const QFont& font, Tone tone, const QString& name)
    {
        auto* label = new ElidedLabel({}, font, std::move(tone));
        label->setObjectName(name);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setShrinks(false);
        return label;
    }

    std::string id_;
    ProcessIconView* icon_ = nullptr;
    SymbolView* symbol_ = nullptr;
    ElidedLabel* title_;
    ElidedLabel* memory_;
    ElidedLabel* cpu_;
};

// FOOTPRINT | PROCESSES | AVAILABLE on a faint band.
PanelSurface* totalsBand(CardMetric* footprint, CardMetric* processes, CardMetric* available)
{
    auto* band = new PanelSurface(0);
    band->setObjectName("totals");
    band->setColours(Tones::primary(0.018), Tones::fixed(Qt::transparent));
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(16, 13, 16, 13);
    row->setSpacing(0);
    const auto divider = [row] {
        row->addSpacing(12);
        row->addWidget(new Divider(Qt::Vertical, 34), 0, Qt::AlignVCenter);
        row->addSpacing(12);
    };
    row->addWidget(footprint, 1);
    divider();
    row->addWidget(processes, 1);
    divider();
    row->addWidget(available, 1);
    return band;
}

}  // namespace

RunningWorkPanel::RunningWorkPanel(std::function<void()> viewAll, std::function<void(const std::string&)> open,
                                   ProcessIconStore* icons, QWidget* parent)
    : PanelSurface(14, parent), open_(std::move(open)), icons_(icons)
{
    setObjectName("runningWorkPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new PanelHeader("Running work", "waveform.path.ecg", std::move(viewAll));
    layout->addWidget(header_);
    layout->addWidget(new Divider(Qt::Horizontal));
    empty_ = new EmptyMessage;
    layout->addWidget(empty_, 1);

    footprint_ = new CardMetric("FOOTPRINT", "footprintValue");
    processes_ = new CardMetric("PROCESSES", "processesValue");
    available_ = new CardMetric("AVAILABLE", "availableValue");
    totals_ = totalsBand(footprint_, processes_, available_);
    rows_ = new RowStack(12, 9, 3);
    auto* gap = new QWidget;
    gap->setFixedHeight(8);
    footer_ = new PanelFooter;
    listParts_ = {totals_, new Divider(Qt::Horizontal), rows_, gap, new Divider(Qt::Horizontal), footer_};
    for (auto* part : listParts_) layout->addWidget(part, part == rows_ ? 1 : 0);

    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(300);
}

QSize RunningWorkPanel::minimumSizeHint() const
{
    const auto content = PanelSurface::minimumSizeHint();
    return {content.width(), std::max(content.height(), 340)};
}

void RunningWorkPanel::refresh(const VantleModel& model)
{
    const auto groups = model.groups();
    header_->setSubtitle(groupedCount(static_cast<std::int64_t>(groups.size())) + " visible groups");
    const bool empty = groups.empty();
    empty_->setVisible(empty);
    for (auto* part : listParts_) part->setVisible(!empty);
    if (empty) {
        empty_->set(runningWorkEmpty(model.snapshot().has_value(), model.hiddenProtectedCount()));
        return;
    }

    std::uint64_t memory = 0;
    std::int64_t processes = 0;
    std::int64_t available = 0;
    for (const auto& group : groups) {
        memory = saturatingAdd(memory, group.memory);
        processes = saturatingAdd(processes, static_cast<std::int64_t>(group.members.size()));
        available = saturatingAdd(available, static_cast<std::int64_t>(group.stoppable.size()));
    }
    footprint_->setValue(bytesText(memory));
    processes_->setValue(groupedCount(processes));
    available_->setValue(groupedCount(available));

    const auto count = std::min(groups.size(), shownGroups);
    rows_->resize(count, [this] { return new GroupRow(open_, icons_); });
    for (std::size_t i = 0; i < count; ++i) static_cast<GroupRow*>(rows_->row(i))->setGroup(groups[i]);
    footer_->set({"Process activity", processRefreshDetail(model.lastRefreshedAt()), "clock", std::nullopt});
}

}  // namespace corvalent::overview
