#include "ui/disk/scan/scan_progress.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "models/disk_model.h"
#include "models/preferences.h"
#include "ui/disk/scan/stop_scan_action.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/rings.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int ringDiameter = 170;
// Below this the percentage no longer sits well inside the ring.
constexpr int smallestRing = 88;
constexpr double ringLine = 10;
constexpr double ringTrack = 18;
// The arc drawn, still, while there is no estimate to show.
constexpr double estimatingArc = 0.72;
constexpr int pathWidth = 520;
constexpr int blockWidth = 440;
const QString calculating = QStringLiteral("Calculating\u2026");

ElidedLabel* label(const QString& text, const QFont& font, Tone tone, const QString& name = {})
{
    auto* made = new ElidedLabel(text, font, std::move(tone));
    if (!name.isEmpty()) made->setObjectName(name);
    return made;
}

// As wide as offered up to `width`, centred in the column.
QLayout* centred(QWidget* widget, int width)
{
    widget->setMaximumWidth(width);
    auto* row = new QHBoxLayout;
    row->addStretch(0);
    row->addWidget(widget, 1);
    row->addStretch(0);
    return row;
}

struct Metric {
    QWidget* view;
    ElidedLabel* value;
    ElidedLabel* detail;
};

// A symbol on a teal tile beside its capitals title, its figure and what the
// figure stands on.
Metric scanScopeMetric(const QString& title, const QString& symbol, const QString& name)
{
    auto* view = new QWidget;
    view->setObjectName(name);
    auto* row = new QHBoxLayout(view);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(
        new SymbolView(symbol, 15, Tones::fixed(CorvalentStyle::teal()), {30, 30}, SymbolView::Tile{7, 0.09}), 0,
        Qt::AlignVCenter);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(label(title, CorvalentStyle::capitalsFont(0.55), Tones::secondary()));
    auto* value = label({}, CorvalentStyle::font(TextStyle::tileFigure), Tones::primary(), name + "Value");
    auto* detail = label({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary(), name + "Detail");
    column->addWidget(value);
    column->addWidget(detail);
    row->addLayout(column, 1);
    return {view, value, detail};
}

}  // namespace

QString remainingLabel(double seconds)
{
    const auto whole = [](double value) {
        return QString::number(std::max(1LL, static_cast<long long>(std::llround(value))));
    };
    if (seconds < 60) return whole(seconds) + " sec";
    if (seconds < 3600) return whole(seconds / 60) + " min";
    return whole(seconds / 3600) + " hr";
}

QString progressPercentText(double fraction)
{
    return QString::number(static_cast<long long>(std::llround(fraction * 100))) + "%";
}

ScanProgressPanel::ScanProgressPanel(DiskModel& model, DiskViewState& state, const DiskCommands& commands,
                                     QWidget* parent)
    : QWidget(parent), model_(model)
{
    setObjectName("scanProgressPanel");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(fullMargin, fullMargin, fullMargin, fullMargin);
    column->setSpacing(18);
    column->addStretch(1);
    column->addWidget(buildRing(), 0, Qt::AlignHCenter);
    column->addWidget(label("Mapping storage\u2026", CorvalentStyle::font(TextStyle::title2, QFont::DemiBold),
                            Tones::primary(), "scanTitle"),
                      0, Qt::AlignHCenter);
    path_ = label({}, CorvalentStyle::monospaced(TextStyle::caption), Tones::secondary(), "scanningPath");
    path_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    path_->setElideMode(Qt::ElideMiddle);
    path_->setMaximumLines(2);
    column->addLayout(centred(path_, pathWidth));
    column->addLayout(centred(buildProgressBlock(), blockWidth));
    column->addLayout(centred(buildScopeCard(), blockWidth));
    column->addWidget(buildPrivacyNote(), 0, Qt::AlignHCenter);
    stop_ = new StopScanAction(model, state, commands.stopScan, this);
    column->addWidget(stop_, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(&model, &DiskModel::scanChanged, this, &ScanProgressPanel::refresh);
    connect(&model, &DiskModel::progressChanged, this, &ScanProgressPanel::refresh);
    connect(&Preferences::standard(), &Preferences::includePrivacyProtectedLocationsChanged, this,
            &ScanProgressPanel::showPrivacyNote);
    showPrivacyNote();
    refresh();
}

// Worked out from the column as it stands, whatever the ring's size now.
int ScanProgressPanel::leastHeight(int width) const
{
    const auto* column = layout();
    int height = column->hasHeightForWidth() ? column->totalHeightForWidth(width) : column->totalMinimumSize().height();
    const auto margins = column->contentsMargins();
    height -= margins.top() + margins.bottom() - 2 * compactMargin;
    if (ring_->isVisibleTo(this)) height -= ring_->height() + column->spacing();
    return height;
}

QSize ScanProgressPanel::minimumSizeHint() const
{
    return {QWidget::minimumSizeHint().width(), leastHeight(width())};
}

int ScanProgressPanel::heightForWidth(int width) const
{
    return leastHeight(width);
}

void ScanProgressPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitColumn();
}

void ScanProgressPanel::fitColumn()
{
    const int spare = height() - leastHeight(width());
    const int spacing = layout()->spacing();
    const bool roomy = spare >= ringDiameter + spacing + 2 * (fullMargin - compactMargin);
    const int diameter = roomy ? ringDiameter : std::min(ringDiameter, spare - spacing);
    const int margin = roomy ? fullMargin : compactMargin;
    layout()->setContentsMargins(fullMargin, margin, fullMargin, margin);
    if (diameter >= smallestRing) {
        const double scale = static_cast<double>(diameter) / ringDiameter;
        ring_->setFixedSize(diameter, diameter);
        ring_->setLineWidth(ringLine * scale);
        ring_->setTrackWidth(ringTrack * scale);
    }
    ring_->setVisible(diameter >= smallestRing);
    showPercentBesideBar();
}

void ScanProgressPanel::showPercentBesideBar()
{
    barPercent_->setVisible(!ring_->isVisibleTo(this) && model_.estimatedProgress().has_value());
}

// The teal ring: the estimate's share, or a still arc around a spinner
// while there is no estimate yet.
QWidget* ScanProgressPanel::buildRing()
{
    ring_ = new Ring(ringDiameter, ringLine);
    ring_->setObjectName("scanRing");
    ring_->setTrackWidth(ringTrack);
    ring_->setTrack(Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.1)));
    ring_->setAccessibleName("Estimated progress");
    auto* centre = new QVBoxLayout(ring_);
    centre->setContentsMargins(0, 0, 0, 0);
    percent_ = label({}, CorvalentStyle::font(TextStyle::title3, QFont::DemiBold), Tones::primary(), "scanPercent");
    percent_->setAlignment(Qt::AlignCenter);
    centre->addWidget(percent_, 0, Qt::AlignCenter);
    ringSpinner_ = new Spinner(32);
    ringSpinner_->setObjectName("scanSpinner");
    ringSpinner_->setAccessibleName("Estimating");
    centre->addWidget(ringSpinner_, 0, Qt::AlignCenter);
    return ring_;
}

QWidget* ScanProgressPanel::buildProgressBlock()
{
    auto* block = new QWidget;
    block->setObjectName("scanProgressBlock");
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);
    bar_ = new Bar;
    bar_->setObjectName("scanBar");
    column->addWidget(bar_);
    const auto caption = CorvalentStyle::font(TextStyle::caption);
    estimating_ = label("Estimating from this first scan\u2026", caption, Tones::secondary(), "estimatingText");
    column->addWidget(estimating_);
    estimated_ = new QWidget;
    auto* row = new QHBoxLayout(estimated_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label("Estimated progress", caption, Tones::secondary()));
    barPercent_ = label({}, CorvalentStyle::font(TextStyle::caption, QFont::DemiBold), Tones::primary(), "barPercent");
    barPercent_->setShrinks(false);
    barPercent_->hide();
    row->addWidget(barPercent_);
    row->addStretch(1);
    remaining_ = label({}, caption, Tones::secondary(), "remainingText");
    remaining_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    remaining_->setShrinks(false);
    row->addWidget(remaining_);
    column->addWidget(estimated_);
    return block;
}

// "Estimated scan scope": the files and the storage expected, each over
// what has been counted so far.
QWidget* ScanProgressPanel::buildScopeCard()
{
    auto* card = new PanelSurface(12);
    card->setObjectName("scanScope");
    card->setColours(
        [](const QPalette& palette) { return CorvalentStyle::withAlpha(CorvalentStyle::panel(palette), 0.66); },
        CorvalentStyle::border);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(11);

    auto* header = new QHBoxLayout;
    header->setSpacing(5);
    const auto teal = Tones::fixed(CorvalentStyle::teal());
    header->addWidget(new SymbolView("scope", 11, teal), 0, Qt::AlignVCenter);
    header->addWidget(label("Estimated scan scope", CorvalentStyle::font(TextStyle::caption, QFont::DemiBold), teal));
    header->addStretch(1);
    header->addWidget(
        label("Updates as Corvalent learns", CorvalentStyle::font(TextStyle::caption2), Tones::tertiary()));
    column->addLayout(header);

    auto* metrics = new QHBoxLayout;
    metrics->setSpacing(0);
    const auto files = scanScopeMetric("FILES", "doc.on.doc", "scopeFiles");
    const auto storage = scanScopeMetric("STORAGE", "internaldrive", "scopeStorage");
    filesValue_ = files.value;
    filesDetail_ = files.detail;
    storageValue_ = storage.value;
    storageDetail_ = storage.detail;
    metrics->addWidget(files.view, 1);
    metrics->addSpacing(15);
    auto* divider = new Divider(Qt::Vertical, 48);
    divider->setTone(CorvalentStyle::border);
    metrics->addWidget(divider);
    metrics->addSpacing(15);
    metrics->addWidget(storage.view, 1);
    column->addLayout(metrics);
    return card;
}

QWidget* ScanProgressPanel::buildPrivacyNote()
{
    auto* note = new QWidget;
    note->setObjectName("privacyNote");
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    privacySymbol_ = new SymbolView("hand.raised", 11, Tones::secondary());
    row->addWidget(privacySymbol_, 0, Qt::AlignVCenter);
    privacyText_ = label({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary(), "privacyText");
    row->addWidget(privacyText_);
    return note;
}

void ScanProgressPanel::showPrivacyNote()
{
    const bool included = Preferences::standard().includePrivacyProtectedLocations();
    privacySymbol_->setSymbol(included ? "lock.open" : "hand.raised");
    privacyText_->setText(included ? "Protected locations are included where the system allows access."
                                   : "Privacy-protected folders are skipped unless you choose one directly.");
}

void ScanProgressPanel::refresh()
{
    const auto progress = model_.estimatedProgress();
    if (progress) {
        ring_->setFraction(*progress);
        percent_->setText(progressPercentText(*progress));
        barPercent_->setText(percent_->text());
        bar_->setFraction(*progress);
        const auto remaining = model_.estimatedRemainingSeconds();
        remaining_->setText(remaining ? "About " + remainingLabel(*remaining) + " remaining" : QString());
    } else {
        ring_->showFractionAtOnce(estimatingArc);
    }
    ring_->setAccessibleDescription(progress ? percent_->text() : QStringLiteral("Estimating"));
    percent_->setVisible(progress.has_value());
    ringSpinner_->setVisible(!progress);
    bar_->setIndeterminate(!progress);
    estimating_->setVisible(!progress);
    estimated_->setVisible(progress.has_value());
    showPercentBesideBar();

    const auto path = QString::fromStdString(model_.scanningPath());
    if (path != path_->text()) {
        path_->setText(path);
        fitColumn();  // a second line of path takes from the ring
    }
    const auto files = model_.estimatedTotalFiles();
    filesValue_->setText(files ? groupedCount(*files) : calculating);
    filesDetail_->setText(groupedCount(model_.scannedFiles()) + " found");
    const auto bytes = model_.displayedEstimatedTotalBytes();
    storageValue_->setText(bytes ? bytesText(*bytes) : calculating);
    storageDetail_->setText(bytesText(model_.scannedBytes()) + " measured");
    stop_->refresh();
}

}  // namespace corvalent
