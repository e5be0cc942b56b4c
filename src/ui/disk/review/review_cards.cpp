#include "ui/disk/review/review_cards.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "models/disk_model.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

const auto separator = QStringLiteral(" \u00b7 ");

ElidedLabel* text(const QString& words, const QFont& font, Tone tone)
{
    return new ElidedLabel(words, font, std::move(tone));
}

// A symbol before its words, as a label in the card's header.
QHBoxLayout* labelled(const QString& symbol, const QString& words, const QFont& font)
{
    auto* layout = rowLayout(5);
    layout->addWidget(new SymbolView(symbol, 11, Tones::primary(), {13, 13}), 0, Qt::AlignVCenter);
    layout->addWidget(text(words, font, Tones::primary()));
    return layout;
}

Button* borderless(const QString& title, QWidget* parent)
{
    auto* button = new Button(Button::Kind::plain, title, parent);
    button->setFont(CorvalentStyle::font(TextStyle::caption, QFont::DemiBold));
    return button;
}

// Rows and dividers go as a whole: the card holds no other state of them.
void clear(QLayout& layout)
{
    while (auto* item = layout.takeAt(0)) {
        if (auto* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

struct UrgencyLook {
    QString symbol;
    QString title;
    bool urgent;
};

UrgencyLook lookOf(DiskRescueUrgency urgency)
{
    switch (urgency) {
        case DiskRescueUrgency::comfortable: return {"checkmark.circle.fill", "Optional cleanup", false};
        case DiskRescueUrgency::tight: return {"gauge.with.dots.needle.67percent", "Build some breathing room", true};
        case DiskRescueUrgency::critical: break;
    }
    return {"exclamationmark.triangle.fill", "Free space is critical", true};
}

// A capitals title over a figure in its tint, or in the secondary colour at 0.
ElidedLabel* addRescueMetric(QHBoxLayout& figures, const QString& title)
{
    auto* metric = new QVBoxLayout;
    metric->setSpacing(2);
    metric->addWidget(text(title, CorvalentStyle::capitalsFont(0.45), Tones::secondary()));
    auto* value = text({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::secondary());
    value->setShrinks(false);
    metric->addWidget(value);
    figures.addLayout(metric);
    return value;
}

void showFigure(ElidedLabel& label, std::uint64_t bytes, const QColor& tint)
{
    label.setText(bytesText(bytes));
    label.setTone(bytes == 0 ? Tones::secondary() : Tones::fixed(tint));
}

}  // namespace

CleanupStatusCard::CleanupStatusCard(DiskModel& model, QWidget* parent) : PanelSurface(10, parent)
{
    setObjectName("cleanupStatusCard");
    setColours(Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.07)), Tones::fixed(Qt::transparent));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(10);
    symbol_ = new SymbolView({}, 14, Tones::fixed(CorvalentStyle::teal()), {16, 16});
    layout->addWidget(symbol_, 0, Qt::AlignTop);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(3);
    message_ = wrappedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::DemiBold), Tones::primary());
    rescanLine_ = wrappedLabel(QStringLiteral("Rescan to update the map and measured totals."),
                               CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    lines->addWidget(message_);
    lines->addWidget(rescanLine_);
    layout->addLayout(lines, 1);
    rescan_ = borderless(QStringLiteral("Rescan"), this);
    layout->addWidget(rescan_, 0, Qt::AlignTop);
    connect(rescan_, &QAbstractButton::clicked, this, [&model] { model.refreshCurrentView(); });
}

// The symbol follows the map alone, also beside a failure's message.
void CleanupStatusCard::present(bool mapNeedsRefresh, const std::optional<QString>& message)
{
    symbol_->setSymbol(mapNeedsRefresh ? QStringLiteral("arrow.clockwise.circle")
                                       : QStringLiteral("checkmark.circle.fill"));
    message_->setText(message.value_or(QString()));
    message_->setVisible(message.has_value());
    rescanLine_->setVisible(mapNeedsRefresh);
    rescan_->setVisible(mapNeedsRefresh);
}

QString CleanupStatusCard::symbol() const
{
    return symbol_->symbol();
}

QStringList CleanupStatusCard::texts() const
{
    QStringList shown;
    for (auto* line : {message_, rescanLine_})
        if (line->isVisibleTo(this)) shown << line->text();
    return shown;
}

RecentTrashCard::RecentTrashCard(DiskModel& model, QWidget* parent) : PanelSurface(10, parent), model_(model)
{
    setObjectName("recentTrashCard");
    setColours(Tones::primary(0.035), Tones::fixed(Qt::transparent));
    auto* layout = columnLayout(this, 11, 8);
    auto* header = labelled(QStringLiteral("trash"), QStringLiteral("Moved this session"),
                            CorvalentStyle::font(TextStyle::caption, QFont::DemiBold));
    header->addStretch(1);
    count_ = text({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    count_->setShrinks(false);
    header->addWidget(count_);
    layout->addLayout(header);
    rows_ = new QWidget(this);
    columnLayout(rows_, 0, 8);
    layout->addWidget(rows_);
}

void RecentTrashCard::present(const std::vector<DiskTrashReceipt>& receipts, bool cleanupInProgress)
{
    count_->setText(QString::number(receipts.size()));
    const auto shown = std::min(receipts.size(), shownReceipts);
    const bool same = shown == shown_.size() && std::equal(shown_.begin(), shown_.end(), receipts.begin(),
                                                           [](const auto& a, const auto& b) { return a.id == b.id; });
    if (!same) {
        clear(*rows_->layout());
        shown_.assign(receipts.begin(), receipts.begin() + static_cast<std::ptrdiff_t>(shown));
        names_.clear();
        undo_.clear();
        for (const auto& receipt : shown_) {
            auto* line = new QWidget(rows_);
            auto* layout = rowLayout(8);
            line->setLayout(layout);
            auto* name = text(QString::fromStdString(receipt.name), CorvalentStyle::font(TextStyle::caption),
                              Tones::primary());
            name->setElideMode(Qt::ElideMiddle);
            layout->addWidget(name, 1);
            auto* undo = borderless(QStringLiteral("Undo"), line);
            undo->setAccessibleDescription(name->text());
            layout->addWidget(undo);
            // The model ignores a restore while another move or restore runs.
            connect(undo, &QAbstractButton::clicked, this, [this, receipt] {
                if (undoPressed_ && !model_.cleanupInProgress()) undoPressed_();
                model_.restore(receipt);
            });
            rows_->layout()->addWidget(line);
            names_.push_back(name);
            undo_.push_back(undo);
        }
    }
    for (auto* undo : undo_) undo->setEnabled(!cleanupInProgress);
}

QString RecentTrashCard::count() const
{
    return count_->text();
}

QStringList RecentTrashCard::names() const
{
    QStringList shown;
    for (auto* name : names_) shown << name->text();
    return shown;
}

CleanupOutcomeLine::CleanupOutcomeLine(QWidget* parent) : QWidget(parent)
{
    setObjectName("cleanupOutcome");
    symbol_ = new SymbolView({}, 12, Tones::primary(), {14, 14});
    text_ = wrappedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::DemiBold), Tones::primary());
    text_->setObjectName("cleanupOutcomeText");
    auto* line = symbolLine(symbol_, text_, 7);
    line->setContentsMargins(11, 2, 11, 2);
    setLayout(line);
    hide();
}

void CleanupOutcomeLine::present(const DiskCleanupOutcome& outcome)
{
    const auto tone =
        outcome.succeeded ? Tones::fixed(CorvalentStyle::teal()) : Tones::readable(CorvalentStyle::orange());
    symbol_->setSymbol(outcome.succeeded ? QStringLiteral("checkmark.circle.fill")
                                         : QStringLiteral("exclamationmark.triangle.fill"));
    symbol_->setTone(tone);
    text_->setTone(outcome.succeeded ? Tones::primary() : tone);
    text_->setText(outcome.message);
    text_->setAccessibleName(outcome.message);
    setAccessibleName(outcome.message);
    show();
    announce(*text_);
}

QString CleanupOutcomeLine::text() const
{
    return isHidden() ? QString() : text_->text();
}

QString rescueDetail(const DiskRescuePlan& plan)
{
    if (plan.bytesToTarget > 0)
        return "Review " + bytesText(plan.bytesToTarget) + " to reach " + bytesText(plan.targetAvailable) + " usable.";
    if (plan.lowRiskBytes > 0)
        return "Your disk has room. " + bytesText(plan.lowRiskBytes) +
               " of low-risk measured data is still available to review.";
    return QStringLiteral("Your disk is above Corvalent\u2019s breathing-room target.");
}

double rescueCoverage(const DiskRescuePlan& plan)
{
    if (plan.bytesToTarget == 0) return 1.0;
    const double measured = static_cast<double>(plan.lowRiskBytes) + static_cast<double>(plan.reviewBytes);
    return std::min(1.0, measured / static_cast<double>(plan.bytesToTarget));
}

QColor rescueBarTint(const DiskRescuePlan& plan)
{
    return rescueCoverage(plan) >= 1.0 ? CorvalentStyle::teal() : CorvalentStyle::orange();
}

RescueCard::RescueCard(QWidget* parent) : PanelSurface(10, parent)
{
    setObjectName("rescueCard");
    auto* layout = columnLayout(this, 12, 11);
    auto* header = rowLayout(10);
    symbol_ = new SymbolView({}, 14, Tones::secondary(), {28, 28}, SymbolView::Tile{7, 0.09});
    header->addWidget(symbol_, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    title_ = text({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    detail_ = wrappedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    words->addWidget(title_);
    words->addWidget(detail_);
    header->addLayout(words, 1);
    layout->addLayout(header);

    bar_ = new Bar(this);
    bar_->setAccessibleName(QStringLiteral("Measured data toward the free-space target"));
    layout->addWidget(bar_);

    auto* figures = rowLayout(14);
    lowRisk_ = addRescueMetric(*figures, QStringLiteral("LOW RISK"));
    auto* divider = new Divider(Qt::Vertical, 30);
    divider->setTone(CorvalentStyle::border);
    figures->addWidget(divider, 0, Qt::AlignVCenter);
    review_ = addRescueMetric(*figures, QStringLiteral("REVIEW"));
    figures->addStretch(1);
    layout->addLayout(figures);
    layout->addWidget(wrappedLabel(QStringLiteral("Estimate assumes selected items are moved and Trash is emptied."),
                                   CorvalentStyle::font(TextStyle::caption2), Tones::tertiary()));
}

void RescueCard::present(const DiskRescuePlan& plan)
{
    if (shown_ == plan) return;
    shown_ = plan;
    const auto look = lookOf(plan.urgency);
    tint_ = look.urgent ? CorvalentStyle::orange() : CorvalentStyle::teal();
    setColours(Tones::fixed(CorvalentStyle::withAlpha(tint_, 0.045)),
               Tones::fixed(CorvalentStyle::withAlpha(tint_, 0.16)));
    symbol_->setSymbol(look.symbol);
    symbol_->setTone(Tones::fixed(tint_));
    title_->setText(look.title);
    detail_->setText(rescueDetail(plan));
    bar_->setVisible(plan.bytesToTarget != 0);
    bar_->setFraction(rescueCoverage(plan));
    bar_->setTint(rescueBarTint(plan));
    showFigure(*lowRisk_, plan.lowRiskBytes, CorvalentStyle::teal());
    showFigure(*review_, plan.reviewBytes, CorvalentStyle::orange());
}

QStringList RescueCard::texts() const
{
    return {title_->text(), detail_->text(), lowRisk_->text(), review_->text()};
}

QColor RescueCard::lowRiskColour() const
{
    return lowRisk_->colour();
}

QColor RescueCard::reviewColour() const
{
    return review_->colour();
}

QString activeResourceDetail(const DiskActiveStorageSummary& summary)
{
    const auto cpu = summary.cpu ? QString::asprintf("%.0f%% CPU", *summary.cpu) : QStringLiteral("CPU \u2014");
    return bytesText(summary.memory) + QStringLiteral(" memory") + separator + cpu;
}

QString activeStorageDetail(const DiskActiveStorageSummary& summary)
{
    QStringList parts;
    for (std::size_t i = 0; i < summary.segments.size() && i < 3; ++i) {
        const auto& segment = summary.segments[i];
        parts << QString::fromStdString(std::string(rawValue(segment.kind))) + ' ' + bytesText(segment.bytes);
    }
    return parts.join(separator);
}

ActiveStorageCard::ActiveStorageCard(QWidget* parent) : PanelSurface(10, parent)
{
    setObjectName("activeStorageCard");
    setColours(Tones::primary(0.025), CorvalentStyle::softBorder);
    auto* layout = columnLayout(this, 12, 9);
    auto* header =
        labelled(QStringLiteral("point.3.connected.trianglepath.dotted"), QStringLiteral("Running work on disk"),
                 CorvalentStyle::font(TextStyle::caption, QFont::DemiBold));
    header->addStretch(1);
    layout->addLayout(header);
    rows_ = new QWidget(this);
    columnLayout(rows_, 0, 9);
    layout->addWidget(rows_);
    protectionNote_ = wrappedLabel(QStringLiteral("Active state stays protected; use the owning app to clean it."),
                                   CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    layout->addWidget(protectionNote_);
    layout->addWidget(wrappedLabel(QStringLiteral("Measured from known app and working-folder locations. Shared and "
                                                  "unknown paths stay unassigned."),
                                   CorvalentStyle::font(TextStyle::caption2), Tones::tertiary()));
}

void ActiveStorageCard::present(const std::vector<DiskActiveStorageSummary>& summaries)
{
    // Any owner's protected storage counts, also one beyond those shown.
    protectionNote_->setVisible(std::any_of(summaries.begin(), summaries.end(),
                                            [](const auto& summary) { return summary.protectedBytes > 0; }));
    const auto count = std::min(summaries.size(), shownSummaries);
    if (std::equal(summaries.begin(), summaries.begin() + static_cast<std::ptrdiff_t>(count), shown_.begin(),
                   shown_.end()))
        return;
    shown_.assign(summaries.begin(), summaries.begin() + static_cast<std::ptrdiff_t>(count));
    auto& rows = *rows_->layout();
    clear(rows);
    rowViews_.clear();
    const auto caption2 = CorvalentStyle::font(TextStyle::caption2);
    for (const auto& summary : shown_) {
        if (!rowViews_.empty()) rows.addWidget(new Divider(Qt::Horizontal, 0, rows_));
        auto* view = new QWidget(rows_);
        auto* line = rowLayout(9);
        view->setLayout(line);
        auto* left = new QVBoxLayout;
        left->setSpacing(2);
        left->addWidget(text(QString::fromStdString(summary.name),
                             CorvalentStyle::font(TextStyle::caption, QFont::Medium), Tones::primary()));
        left->addWidget(text(activeResourceDetail(summary), caption2, Tones::secondary()));
        if (!summary.segments.empty())
            left->addWidget(text(activeStorageDetail(summary), caption2, Tones::secondary()));
        line->addLayout(left, 1);
        // The figures keep together, centred beside two lines or three.
        auto* right = new QVBoxLayout;
        right->setSpacing(2);
        right->addStretch(1);
        auto* bytes = text(bytesText(summary.linkedBytes), CorvalentStyle::font(TextStyle::caption, QFont::DemiBold),
                           Tones::primary());
        auto* files =
            text(QString::number(summary.linkedItems) + QStringLiteral(" files"), caption2, Tones::secondary());
        for (auto* figure : {bytes, files}) {
            figure->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            figure->setShrinks(false);
            right->addWidget(figure);
        }
        right->addStretch(1);
        line->addLayout(right);
        rows.addWidget(view);
        rowViews_.push_back(view);
    }
}

std::vector<QStringList> ActiveStorageCard::rows() const
{
    std::vector<QStringList> lines;
    for (auto* view : rowViews_) {
        QStringList texts;
        for (auto* label : view->findChildren<ElidedLabel*>()) texts << label->text();
        lines.push_back(texts);
    }
    return lines;
}

int ActiveStorageCard::dividers() const
{
    int count = 0;
    for (auto* child : rows_->children())
        if (auto* divider = dynamic_cast<Divider*>(child); divider != nullptr && !divider->isHidden()) ++count;
    return count;
}

bool ActiveStorageCard::showsProtectionNote() const
{
    return protectionNote_->isVisibleTo(this);
}

}  // namespace corvalent
