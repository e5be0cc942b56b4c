#include "ui/processes/process_page.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QSplitter>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#include "core/common/display.h"
#include "models/preferences.h"
#include "models/vantle_model.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/process_list_view.h"
#include "ui/processes/process_texts.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/coalesced_call.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace processes {

// One figure of the header: a tinted symbol tile beside a title in small
// capitals over the value. Emphasized, it takes its tint as fill and border.
class MetricChip : public QWidget {
public:
    MetricChip(const QString& title, const QString& symbol, const QColor& tint, QWidget* parent = nullptr)
        : QWidget(parent), tint_(tint)
    {
        setObjectName("metricChip");
        setAccessibleName(title);
        setProperty("emphasized", false);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(14, 13, 14, 13);
        row->setSpacing(12);
        row->addWidget(new SymbolView(symbol, 16, Tones::fixed(tint), {34, 34}, SymbolView::Tile{10, 0.12}), 0,
                       Qt::AlignVCenter);
        auto* column = new QVBoxLayout;
        column->setSpacing(3);
        column->addWidget(new ElidedLabel(title.toUpper(), CorvalentStyle::capitalsFont(), Tones::secondary()));
        value_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::figure), Tones::primary());
        value_->setObjectName("chipValue");
        value_->setMinimumScale(0.72);
        column->addWidget(value_);
        row->addLayout(column, 1);
        // The four chips share the row evenly, whatever their texts.
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMinimumWidth(150);
    }

    void setValue(const QString& value)
    {
        value_->setText(value);
        setAccessibleDescription(value);
    }
    void setEmphasized(bool on)
    {
        if (property("emphasized").toBool() == on) return;
        setProperty("emphasized", on);
        const double from = emphasis_;
        const double to = on ? 1.0 : 0.0;
        const int generation = ++generation_;
        AppMotion::animate(this, AppMotion::quick(), [this, from, to, generation](double t) {
            if (generation != generation_) return;
            emphasis_ = std::clamp(from + (to - from) * t, 0.0, 1.0);
            update();
        });
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const auto mix = [this](const QColor& plain, const QColor& tinted) {
            const auto a = plain.toRgb();
            const auto b = tinted.toRgb();
            const auto at = [this](float x, float y) { return static_cast<float>(x + (y - x) * emphasis_); };
            return QColor::fromRgbF(at(a.redF(), b.redF()), at(a.greenF(), b.greenF()), at(a.blueF(), b.blueF()),
                                    at(a.alphaF(), b.alphaF()));
        };
        const auto pal = palette();
        CorvalentStyle::paintPanel(
            painter, QRectF(rect()), 14,
            mix(CorvalentStyle::withAlpha(CorvalentStyle::panel(pal), 0.76), CorvalentStyle::withAlpha(tint_, 0.1)),
            mix(CorvalentStyle::softBorder(pal), CorvalentStyle::withAlpha(tint_, 0.26)));
    }

private:
    QColor tint_;
    ElidedLabel* value_;
    double emphasis_ = 0;
    int generation_ = 0;
};

// The split's divider: a hairline with room on either side to grab it.
class SplitLine : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRectF(width() / 2.0 - 0.5, 0, 1, height()), CorvalentStyle::border(palette()));
    }
};

class Split : public QSplitter {
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle* createHandle() override { return new SplitLine(orientation(), this); }
};

}  // namespace processes

namespace {

using processes::MetricChip;

constexpr int listMinimum = 475;
constexpr int inspectorMinimum = 330;
constexpr int inspectorIdeal = 390;
constexpr int inspectorMaximum = 490;
constexpr int shelfHeight = 62;
// The split's foot the shelf covers: its height and the gap below it.
constexpr int shelfBand = shelfHeight + 16;
// The header's margins and the space between its parts.
constexpr QMargins headerMargins(24, 18, 24, 20);
constexpr int headerSpacing = 14;
// Rows the list keeps on a short page, as many as the usual size shows.
constexpr int keptRows = 5;

const QString memoryTitle = QStringLiteral("Memory pressure");
const QString cpuTitle = QStringLiteral("Measured CPU");
const QString availableTitle = QStringLiteral("Available to stop");
const QString selectedTitle = QStringLiteral("Selected footprint");

// A see-through widget, or none while it is fully opaque.
void setOpacity(QWidget* widget, double opacity)
{
    if (opacity >= 1.0) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (effect == nullptr) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(std::max(0.0, opacity));
}

}  // namespace

ProcessPage::ProcessPage(VantleModel& model, ProcessIconStore& icons, QWidget* parent)
    : QWidget(parent), model_(model), showInspector_(Preferences::standard().showInspector())
{
    setObjectName("processPage");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = buildHeader();
    header_->setObjectName("pageHeader");
    header_->setContentsMargins(headerMargins);
    layout->addWidget(header_);
    headerDivider_ = new Divider(Qt::Horizontal);
    layout->addWidget(headerDivider_);

    split_ = new processes::Split(Qt::Horizontal);
    split_->setObjectName("processSplit");
    split_->setChildrenCollapsible(false);
    split_->setHandleWidth(5);
    pane_ = new ProcessListPane(model_, icons);
    pane_->setMinimumWidth(listMinimum);
    pane_->list().setCoveredFoot(shelfBand);
    split_->addWidget(pane_);
    inspector_ = new QWidget;
    inspector_->setObjectName("inspector");
    auto* inspectorLayout = new QVBoxLayout(inspector_);
    inspectorLayout->setContentsMargins(0, 0, 0, 0);
    auto* details = new ProcessInspector(model_, icons);
    details->setCoveredFoot(shelfBand);
    inspectorLayout->addWidget(details);
    inspector_->setMinimumWidth(inspectorMinimum);
    inspector_->setMaximumWidth(inspectorMaximum);
    split_->addWidget(inspector_);
    split_->setStretchFactor(0, 1);
    split_->setStretchFactor(1, 0);
    inspector_->setVisible(showInspector_);
    layout->addWidget(split_, 1);

    shelf_ = new QWidget(this);
    shelf_->setObjectName("selectionShelf");
    auto* shelf = SelectionShelf::attach(*shelf_, model_);
    // Clear hides itself and turns the shelf's actions off: the focus goes
    // back to the list, on the inspected group's row, before it would leave
    // the page.
    connect(shelf, &SelectionShelf::clearing, this, [this] {
        if (!holdsFocus(*shelf_)) return;
        pane_->list().takeFocus(model_.focused().value_or(std::string()));
    });
    // A confirmed stop closes its sheet and turns the shelf's actions off:
    // the focus goes back to the list, on the first group being stopped. When
    // the stop has ended it moves on to a group still selected, else stays on
    // that group, else on the row that took its place. The inspector shows
    // the row it rests on, so the next Space selects what the person sees.
    connect(&model_, &VantleModel::stoppingChanged, this, [this] {
        auto& list = pane_->list();
        if (model_.stopping()) {
            stopped_ = selectedGroup();
            stoppedRow_ = list.rows().rowOf(stopped_);
            if (isVisible()) list.takeFocus(stopped_);
            return;
        }
        if (!isVisible() || !holdsFocus(list)) return;
        const auto survivor = selectedGroup();
        list.takeFocus(survivor.empty() ? stopped_ : survivor, stoppedRow_);
    });

    // A sample changes selection, rows and figures at once: one redraw for all.
    auto* refreshSoon = new CoalescedCall(*this, [this] { refreshHeader(); });
    connect(&model_, &VantleModel::snapshotChanged, refreshSoon, &CoalescedCall::call);
    connect(&model_, &VantleModel::selectedChanged, refreshSoon, &CoalescedCall::call);
    connect(&model_, &VantleModel::visibleChanged, refreshSoon, &CoalescedCall::call);
    refreshHeader();
}

QWidget* ProcessPage::buildHeader()
{
    auto* header = new QWidget;
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(headerSpacing);

    titles_ = new QWidget;
    titles_->setObjectName("pageTitles");
    auto* titles = new QVBoxLayout(titles_);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(4);
    auto* title =
        new ElidedLabel(QStringLiteral("Processes"), CorvalentStyle::font(TextStyle::pageTitle), Tones::primary());
    title->setObjectName("pageTitle");
    titles->addWidget(title);
    auto* subtitle = new ElidedLabel(QStringLiteral("Find heavy work, understand it, and stop only what you choose."),
                                     CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    column->addWidget(titles_);

    chipRow_ = new QWidget;
    chipRow_->setObjectName("metricChips");
    auto* chips = new QHBoxLayout(chipRow_);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(12);
    chips_ = {new MetricChip(memoryTitle, "gauge.with.dots.needle.50percent", CorvalentStyle::teal()),
              new MetricChip(cpuTitle, "speedometer", CorvalentStyle::cyan()),
              new MetricChip(availableTitle, "stop.circle", CorvalentStyle::indigo()),
              new MetricChip(selectedTitle, "checkmark.circle.fill", CorvalentStyle::teal())};
    for (auto* chip : chips_) chips->addWidget(chip, 1);
    column->addWidget(chipRow_);

    caption_ = new QWidget;
    caption_->setObjectName("pageCaption");
    auto* caption = new QHBoxLayout(caption_);
    caption->setContentsMargins(0, 0, 0, 0);
    caption->setSpacing(7);
    caption->addWidget(new SymbolView(QStringLiteral("info.circle"), 11, Tones::secondary()));
    caption->addWidget(
        new ElidedLabel(
            QStringLiteral("Footprint includes memory swapped to disk and may not be freed. CPU 100% equals one core."),
            CorvalentStyle::font(TextStyle::caption), Tones::secondary()),
        1);
    lastScan_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    lastScan_->setObjectName("lastScan");
    lastScan_->setShrinks(false);
    caption->addWidget(lastScan_);
    column->addWidget(caption_);
    return header;
}

std::string ProcessPage::selectedGroup() const
{
    const auto& selected = model_.selected();
    for (const auto& group : model_.visible())
        if (std::ranges::any_of(group.stoppableIDs,
                                [&selected](const std::string& id) { return selected.contains(id); }))
            return group.id;
    return {};
}

QWidget* ProcessPage::chip(const QString& title) const
{
    for (auto* chip : chips_)
        if (chip->accessibleName() == title) return chip;
    return nullptr;
}

void ProcessPage::refreshHeader()
{
    chips_[0]->setValue(memoryPressureText(model_.pressure()));
    chips_[1]->setValue(ProcessTexts::measuredCPU(model_.measuredCPU()));
    chips_[2]->setValue(ProcessTexts::count(model_.availableProcessCount()));
    chips_[3]->setValue(QString::fromStdString(Display::bytes(model_.selectedMemory())));
    // Selected ids a sample no longer lists as stoppable weigh nothing: only
    // the processes a stop would take tint the chip.
    chips_[3]->setEmphasized(!model_.chosen().empty());
    lastScan_->setText(ProcessTexts::lastScan(model_.scanMS()));
}

void ProcessPage::setShowInspector(bool on)
{
    if (on == showInspector_) return;
    showInspector_ = on;
    slideInspector(on);
}

// In from the trailing edge while it fades in, out the same way; under
// reduced motion it only fades.
void ProcessPage::slideInspector(bool in)
{
    const int generation = ++slideGeneration_;
    const int total = split_->width() - split_->handleWidth();
    if (!isVisible()) {
        inspector_->setVisible(in);
        // Sized now if the split has its width, else once it has.
        sized_ = in && total > listMinimum;
        if (sized_) split_->setSizes({total - inspectorIdeal, inspectorIdeal});
        return;
    }
    if (in) {
        setOpacity(inspector_, 0);
        inspector_->show();
    }
    const auto finish = [this, in, total] {
        setOpacity(inspector_, 1);
        inspector_->setMinimumWidth(inspectorMinimum);
        inspector_->setVisible(in);
        if (in) split_->setSizes({total - inspectorIdeal, inspectorIdeal});
    };
    if (AppMotion::reduceMotion()) {
        if (in) split_->setSizes({total - inspectorIdeal, inspectorIdeal});
        auto* fade = new QVariantAnimation(this);
        fade->setDuration(AppMotion::standard().milliseconds);
        fade->setStartValue(in ? 0.0 : 1.0);
        fade->setEndValue(in ? 1.0 : 0.0);
        connect(fade, &QVariantAnimation::valueChanged, this, [this, generation](const QVariant& value) {
            if (generation == slideGeneration_) setOpacity(inspector_, value.toDouble());
        });
        connect(fade, &QVariantAnimation::finished, this, [this, generation, finish] {
            if (generation == slideGeneration_) finish();
        });
        fade->start(QAbstractAnimation::DeleteWhenStopped);
        return;
    }
    inspector_->setMinimumWidth(0);
    const double from = in ? 0 : inspector_->width();
    const double to = in ? inspectorIdeal : 0;
    AppMotion::animate(this, AppMotion::standard(), [this, generation, from, to, total, in, finish](double t) {
        if (generation != slideGeneration_) return;
        const int width =
            static_cast<int>(std::lround(std::clamp(from + (to - from) * t, 0.0, double(inspectorMaximum))));
        split_->setSizes({total - width, width});
        setOpacity(inspector_, in ? std::min(t, 1.0) : 1.0 - std::min(t, 1.0));
        if (t >= 1.0) finish();
    });
}

void ProcessPage::placeShelf()
{
    const auto area = split_->geometry();
    shelf_->setGeometry(area.left() + 20, area.bottom() + 1 - shelfBand, std::max(0, area.width() - 40),
                        shelfHeight);
}

void ProcessPage::paintEvent(QPaintEvent*)
{
    // The header lies over the window's backdrop; the split has a plain one.
    QPainter painter(this);
    painter.fillRect(split_->geometry(), CorvalentStyle::windowBackground(palette()));
}

// In a short window the parts above the list give way, fewest first, until
// the list has room for its rows above the shelf: the caption line, the
// title block, the list's title row, the header with its chips, and last the
// line between the search field and the list's controls.
void ProcessPage::foldToHeight()
{
    const int inner = width() - headerMargins.left() - headerMargins.right();
    const int titles = shownHeight(*titles_, inner);
    const int chips = shownHeight(*chipRow_, inner);
    const int caption = shownHeight(*caption_, inner);
    const int divider = headerDivider_->minimumHeight();
    const int header = headerMargins.top() + titles + headerSpacing + chips + headerSpacing + caption +
                       headerMargins.bottom();
    const int full =
        header + divider + pane_->fullHeaderHeight() + ProcessListPane::listHeight(keptRows) + shelfBand;
    const std::array frees{caption + headerSpacing, titles + headerSpacing, pane_->titleRowHeight(),
                           headerMargins.top() + chips + headerMargins.bottom() + divider,
                           pane_->joinedRowsSaving()};
    // Only the page's own height counts: a taller page never folds more,
    // so it never shows fewer rows.
    folded_ = corvalent::foldedParts(height(), full, frees);
    caption_->setVisible(folded_ < 1);
    titles_->setVisible(folded_ < 2);
    pane_->setTitleRowShown(folded_ < 3);
    header_->setVisible(folded_ < 4);
    headerDivider_->setVisible(folded_ < 4);
    pane_->setRowsJoined(folded_ >= 5);
}

void ProcessPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    foldToHeight();
    // The inspector opens at its ideal width once the split has one; the
    // list takes the rest, then and on every later resize.
    const int total = split_->width() - split_->handleWidth();
    if (!sized_ && inspector_->isVisibleTo(this) && total > listMinimum) {
        sized_ = true;
        split_->setSizes({total - inspectorIdeal, inspectorIdeal});
    }
    placeShelf();
}

}  // namespace corvalent
