#include "ui/disk/header/capacity_card.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>
#include <vector>

#include "core/common/display.h"
#include "models/disk_model.h"
#include "ui/disk/disk_view_state.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/rings.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

DiskHealth::DiskHealth(const DiskCapacity& capacity)
{
    const double free = capacity.total == 0 ? 0.0
                                            : static_cast<double>(capacity.available) /
                                                  static_cast<double>(capacity.total);
    const auto set = [this](const char* title, const char* symbol, QColor colour) {
        this->title = title;
        this->symbol = symbol;
        color = colour;
    };
    if (free < 0.10)
        set("Almost full", "exclamationmark.triangle.fill", CorvalentStyle::red());
    else if (free < 0.20)
        set("Space is getting tight", "exclamationmark.circle.fill", CorvalentStyle::orange());
    else
        set("Room to breathe", "checkmark.circle.fill", CorvalentStyle::teal());
}

double usedFraction(const DiskCapacity& capacity)
{
    return capacity.usedFraction();
}

int usedPercent(const DiskCapacity& capacity)
{
    // The same rounding as the gauge's own text.
    return static_cast<int>(std::lround(usedFraction(capacity) * 100));
}

namespace {

// `tone` faded by `level`, read at paint time.
Tone faded(Tone tone, const double& level)
{
    return [tone = std::move(tone), &level](const QPalette& palette) {
        auto colour = tone(palette);
        colour.setAlphaF(static_cast<float>(colour.alphaF() * level));
        return colour;
    };
}

// Brings `label`'s new text up from clear, as a changing figure does;
// `generation` drops the steps of an older run.
void reveal(QWidget* owner, double& level, int& generation, std::initializer_list<QWidget*> labels)
{
    level = 0;
    const int run = ++generation;
    std::vector<QWidget*> repainted(labels);
    AppMotion::animate(owner, AppMotion::quick(), [&level, &generation, run, repainted](double t) {
        if (run != generation) return;
        level = t;
        for (auto* label : repainted) label->update();
    });
}

constexpr QMargins figureMargins(16, 13, 16, 13);
constexpr QMargins compactMargins(16, 8, 16, 8);
constexpr int figureSpacing = 18;
constexpr int compactSpacing = 10;
constexpr int figureWidth = 94;

Divider* figureDivider()
{
    auto* divider = new Divider(Qt::Vertical, 34);
    divider->setObjectName("capacityDivider");
    divider->setTone(CorvalentStyle::border);
    return divider;
}

}  // namespace

// One labelled figure: the caption in small capitals over the byte count,
// both trailing. The value label is named by its caption.
class CapacityFigure : public QWidget {
public:
    explicit CapacityFigure(const QString& caption, QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName("capacityFigure");
        setAccessibleName(caption);
        setMinimumWidth(figureWidth);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(3);
        auto* label = new ElidedLabel(caption, CorvalentStyle::capitalsFont(0.55), Tones::secondary());
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setShrinks(false);
        column->addWidget(label);
        value_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::tileFigure), faded(Tones::primary(), reveal_));
        value_->setObjectName(caption);
        value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value_->setShrinks(false);
        column->addWidget(value_);
    }

    // Compact: the value in the headline font, the figure as wide as it is.
    void setCompact(bool compact)
    {
        value_->setFont(CorvalentStyle::font(compact ? TextStyle::headline : TextStyle::tileFigure));
        setMinimumWidth(compact ? 0 : figureWidth);
    }

    void set(std::uint64_t bytes, Tone tone, bool animated)
    {
        value_->setTone(faded(std::move(tone), reveal_));
        const auto text = QString::fromStdString(Display::bytes(bytes));
        if (text == value_->text()) return;
        value_->setText(text);
        setAccessibleDescription(text);
        if (animated) reveal(this, reveal_, generation_, {value_});
    }

private:
    ElidedLabel* value_;
    double reveal_ = 1;
    int generation_ = 0;
};

CapacityCard::CapacityCard(DiskModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName("capacityCard");
    setAccessibleName("Disk capacity");
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    reading_ = new QWidget;
    reading_->setObjectName("capacityReading");
    auto* waiting = new QHBoxLayout(reading_);
    waiting->setContentsMargins(16, 16, 16, 16);
    waiting->setSpacing(10);
    auto* spinner = new Spinner(16);
    spinner->setAccessibleName("Reading disk capacity");
    waiting->addWidget(spinner, 0, Qt::AlignVCenter);
    waiting->addWidget(new ElidedLabel("Reading disk capacity…", CorvalentStyle::font(TextStyle::callout),
                                       Tones::secondary()),
                       1, Qt::AlignVCenter);
    stack->addWidget(reading_);

    figures_ = new QWidget;
    figures_->setObjectName("capacityFigures");
    auto* row = new QHBoxLayout(figures_);
    row->setContentsMargins(figureMargins);
    row->setSpacing(figureSpacing);
    gauge_ = new Gauge(48);
    gauge_->setObjectName("capacityGauge");
    row->addWidget(gauge_, 0, Qt::AlignVCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    name_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::headline), faded(Tones::primary(), nameReveal_));
    name_->setObjectName("volumeName");
    names->addWidget(name_);
    auto* verdict = new QHBoxLayout;
    verdict->setSpacing(4);
    healthSymbol_ = new SymbolView("checkmark.circle.fill", 11, Tones::fixed(CorvalentStyle::teal()));
    healthSymbol_->setObjectName("healthSymbol");
    verdict->addWidget(healthSymbol_, 0, Qt::AlignVCenter);
    health_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::Medium),
                              Tones::fixed(CorvalentStyle::teal()));
    health_->setObjectName("healthTitle");
    verdict->addWidget(health_, 1, Qt::AlignVCenter);
    names->addLayout(verdict);
    row->addLayout(names, 0);
    row->addStretch(1);

    usable_ = new CapacityFigure("USABLE");
    row->addWidget(usable_, 0, Qt::AlignVCenter);
    freeNow_ = new CapacityFigure("FREE NOW");
    reclaimableDivider_ = figureDivider();
    reclaimable_ = new CapacityFigure("RECLAIMABLE");
    total_ = new CapacityFigure("CAPACITY");
    for (QWidget* item : std::initializer_list<QWidget*>{figureDivider(), freeNow_, reclaimableDivider_, reclaimable_,
                                                         figureDivider(), total_})
        row->addWidget(item, 0, Qt::AlignVCenter);
    showFigures();
    stack->addWidget(figures_);

    connect(&model_, &DiskModel::volumesChanged, this, &CapacityCard::sync);
    sync();
}

void CapacityCard::sync()
{
    const auto& capacity = model_.capacity();
    reading_->setVisible(!capacity);
    figures_->setVisible(capacity.has_value());
    if (capacity == shown_) return;
    // A first reading lands as it is; later ones come up from the last.
    if (capacity) present(*capacity, shown_.has_value());
    shown_ = capacity;
}

void CapacityCard::present(const DiskCapacity& capacity, bool animated)
{
    const DiskHealth health(capacity);
    gauge_->setTint(Tones::fixed(health.color));
    gauge_->setFraction(usedFraction(capacity));
    const auto name = QString::fromStdString(capacity.volumeName);
    const bool verdictChanged = name != name_->text() || health.title != health_->text();
    name_->setText(name);
    health_->setText(health.title);
    health_->setTone(faded(Tones::fixed(health.color), nameReveal_));
    healthSymbol_->setSymbol(health.symbol);
    healthSymbol_->setTone(faded(Tones::fixed(health.color), nameReveal_));
    if (animated && verdictChanged) reveal(this, nameReveal_, nameGeneration_, {name_, health_, healthSymbol_});

    usable_->set(capacity.available, Tones::fixed(health.color), animated);
    freeNow_->set(capacity.immediatelyAvailable, Tones::primary(), animated);
    const bool reclaimable = capacity.available > capacity.immediatelyAvailable;
    hasReclaimable_ = reclaimable;
    showFigures();
    if (reclaimable)
        reclaimable_->set(capacity.available - capacity.immediatelyAvailable, Tones::fixed(CorvalentStyle::teal()),
                          animated);
    total_->set(capacity.total, Tones::primary(), animated);
}

void CapacityCard::setCompact(bool compact)
{
    if (compact == compact_) return;
    compact_ = compact;
    figures_->layout()->setContentsMargins(compact ? compactMargins : figureMargins);
    figures_->layout()->setSpacing(compact ? compactSpacing : figureSpacing);
    for (auto* figure : {usable_, freeNow_, reclaimable_, total_}) figure->setCompact(compact);
}

int CapacityCard::rowHeight(bool compact) const
{
    // The figures' row is the taller of the card's two states; measured
    // also while the capacity is still being read.
    const auto shown = figures_->layout()->contentsMargins();
    const auto& margins = compact ? compactMargins : figureMargins;
    return shownHeight(*figures_, figures_->width()) - shown.top() - shown.bottom() + margins.top() +
           margins.bottom();
}

void CapacityCard::showFigures()
{
    reclaimableDivider_->setVisible(hasReclaimable_);
    reclaimable_->setVisible(hasReclaimable_);
}

void CapacityCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CorvalentStyle::paintPanel(painter, QRectF(rect()), 14, palette());
}

namespace {

// The strip itself: a faint orange fill with an orange hairline inside.
class WarningStrip : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const auto orange = CorvalentStyle::orange();
        CorvalentStyle::paintPanel(painter, QRectF(rect()), 11, CorvalentStyle::withAlpha(orange, 0.045),
                                   CorvalentStyle::withAlpha(orange, 0.18));
    }
};

bool accessLimited(FullDiskAccessStatus status)
{
    return status == FullDiskAccessStatus::denied || status == FullDiskAccessStatus::unavailable;
}

}  // namespace

LimitedAccessWarning::LimitedAccessWarning(DiskViewState& state, QWidget* parent)
    : QWidget(parent), state_(state), strip_(new WarningStrip(this)), motion_(new QVariantAnimation(this))
{
    const QString title = "Storage map may be incomplete";
    const QString detail = "Desktop, Documents, Downloads, and other protected locations are excluded.";
    setObjectName("limitedAccessWarning");
    setAccessibleName(title);
    setAccessibleDescription(detail);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    strip_->setObjectName("limitedAccessStrip");
    auto* row = new QHBoxLayout(strip_);
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(13);
    row->addWidget(new SymbolView("exclamationmark.triangle.fill", 16, Tones::fixed(CorvalentStyle::orange()),
                                  {34, 34}, SymbolView::Tile{8, 0.1}),
                   0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(new ElidedLabel(title, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold),
                                     Tones::primary()));
    auto* caption = new ElidedLabel(detail, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    caption->setObjectName("limitedAccessDetail");
    caption->setWordWrap(true);
    texts->addWidget(caption);
    row->addLayout(texts, 1);
    row->addSpacing(14);
    auto* review = new Button(Button::Kind::bordered, "Review Access…");
    review->setObjectName("reviewAccess");
    connect(review, &QPushButton::clicked, this, [this] { state_.setShowingAccessSetup(true); });
    row->addWidget(review, 0, Qt::AlignVCenter);

    const auto motion = AppMotion::quick();
    motion_->setDuration(motion.milliseconds);
    motion_->setEasingCurve(motion.curve);
    connect(motion_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        setShown(value.toDouble());
    });
    connect(motion_, &QVariantAnimation::finished, this, [this] {
        // Drawn straight again once still: an opacity effect renders through a
        // buffer, and a grab of it is black.
        strip_->setGraphicsEffect(nullptr);
        fade_ = nullptr;
        if (!wanted_) hide();
    });
    connect(&state_, &DiskViewState::fullDiskAccessStatusChanged, this, &LimitedAccessWarning::sync);
    // The state the page starts in is simply there.
    wanted_ = accessLimited(state_.fullDiskAccessStatus());
    setShown(wanted_ ? 1 : 0);
    if (!wanted_) hide();
}

void LimitedAccessWarning::sync()
{
    const bool wanted = accessLimited(state_.fullDiskAccessStatus());
    if (wanted == wanted_) return;
    wanted_ = wanted;
    motion_->stop();
    if (fade_ == nullptr) strip_->setGraphicsEffect(fade_ = new QGraphicsOpacityEffect(strip_));
    show();
    motion_->setStartValue(shown_);
    motion_->setEndValue(wanted ? 1.0 : 0.0);
    motion_->start();
}

void LimitedAccessWarning::setShown(double shown)
{
    shown_ = shown;
    if (fade_ != nullptr) fade_->setOpacity(shown);
    updateGeometry();
    // Bottom-aligned in a box that grows: the strip comes down from the top edge.
    const int height = stripHeight(width());
    strip_->setGeometry(0, this->height() - height, width(), height);
}

int LimitedAccessWarning::stripHeight(int width) const
{
    return strip_->hasHeightForWidth() ? strip_->heightForWidth(width) : strip_->sizeHint().height();
}

int LimitedAccessWarning::heightForWidth(int width) const
{
    return static_cast<int>(std::lround(stripHeight(width) * shown_));
}

QSize LimitedAccessWarning::sizeHint() const
{
    const auto hint = strip_->sizeHint();
    return {hint.width(), heightForWidth(hint.width())};
}

QSize LimitedAccessWarning::minimumSizeHint() const
{
    return {strip_->minimumSizeHint().width(), 0};
}

void LimitedAccessWarning::resizeEvent(QResizeEvent*)
{
    const int height = stripHeight(width());
    strip_->setGeometry(0, this->height() - height, width(), height);
}

}  // namespace corvalent
