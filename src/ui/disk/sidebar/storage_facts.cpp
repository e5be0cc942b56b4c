#include "ui/disk/sidebar/storage_facts.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "models/disk_model.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

// A fact card: the symbol on a tile of its colour beside the title and the
// figure, with what the figure means under them.
PanelSurface* factCard(const StorageFact& fact)
{
    auto* card = new PanelSurface(10);
    card->setObjectName("storageFact");
    card->setColours(Tones::primary(0.025), Tones::fixed(Qt::transparent));
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(11, 11, 11, 11);
    row->setSpacing(11);
    row->addWidget(new SymbolView(fact.symbol, 14, fact.tint, {28, 28}, SymbolView::Tile{7, 0.09}), 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    auto* heading = new QHBoxLayout;
    const auto font = CorvalentStyle::font(TextStyle::caption, QFont::DemiBold);
    auto* title = new ElidedLabel(fact.title, font, Tones::primary());
    title->setObjectName("factTitle");
    heading->addWidget(title, 1);
    auto* value = new ElidedLabel(fact.value, font, Tones::primary());
    value->setObjectName("factValue");
    value->setShrinks(false);
    heading->addWidget(value);
    column->addLayout(heading);
    auto* detail = new ElidedLabel(fact.detail, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    detail->setObjectName("factDetail");
    detail->setWordWrap(true);
    column->addWidget(detail);
    row->addLayout(column, 1);
    return card;
}

}  // namespace

QString storageDifferenceExplanation(const DiskStorageReconciliation& reconciliation)
{
    QStringList phrases;
    if (reconciliation.inaccessibleEntries >= 1) phrases << QStringLiteral("unreadable locations");
    if (reconciliation.privacySkippedLocations >= 1) phrases << QStringLiteral("privacy-skipped folders");
    phrases << QStringLiteral("snapshots, metadata, virtual memory, and filesystem accounting");
    return QStringLiteral("Not junk: includes ") + phrases.join(QStringLiteral(", ")) + QStringLiteral(".");
}

QString snapshotExplanation(const APFSSnapshotSummary& summary)
{
    if (!summary.purgeableCount)
        return QStringLiteral(
            "Local filesystem snapshots are counted here; the file system does not report a reliable per-snapshot "
            "size.");
    return groupedCount(*summary.purgeableCount) +
           QStringLiteral(" marked for removal when space runs low. The file system does not report a reliable per-snapshot size.");
}

std::vector<StorageFact> storageFacts(const DiskStorageReconciliation& reconciliation,
                                      const std::optional<APFSSnapshotSummary>& snapshots)
{
    const auto teal = Tones::fixed(CorvalentStyle::teal());
    const auto cyan = Tones::fixed(CorvalentStyle::cyan());
    std::vector<StorageFact> facts;
    facts.push_back({"doc.on.doc.fill", "Measured files", bytesText(reconciliation.measuredFiles),
                     "Allocated space found by this scan.", teal});
    if (reconciliation.cloudPlaceholderCount >= 1)
        facts.push_back({"icloud.and.arrow.down", "Cloud placeholders",
                         groupedCount(reconciliation.cloudPlaceholderCount),
                         bytesText(reconciliation.cloudPlaceholderLogicalBytes) +
                             " is represented online but not fully stored on this disk. Downloading it would use "
                             "more local space.",
                         cyan});
    // Only a whole-volume scan can say how much of the disk it did not see.
    if (reconciliation.notMeasured)
        facts.push_back({"questionmark.folder.fill", "Not measured by this scan",
                         bytesText(*reconciliation.notMeasured), storageDifferenceExplanation(reconciliation),
                         Tones::fixed(CorvalentStyle::orange())});
    else
        facts.push_back({"folder.fill", "Folder-only view", QStringLiteral("\u2014"),
                         "Scan the whole selected disk to reconcile this map with the system's capacity totals.",
                         Tones::secondary()});
    facts.push_back({"externaldrive.badge.checkmark", "Immediately free", bytesText(reconciliation.immediatelyFree),
                     "Space currently free without the system clearing caches or other data it can release.", teal});
    if (reconciliation.reclaimable != 0)
        facts.push_back({"arrow.triangle.2.circlepath", "Reclaimable by the system",
                         bytesText(reconciliation.reclaimable),
                         "Caches and other data the system may release when an app needs space.", cyan});
    if (snapshots)
        facts.push_back({"clock.arrow.circlepath", "File system snapshots", groupedCount(snapshots->count),
                         snapshotExplanation(*snapshots), Tones::fixed(CorvalentStyle::indigo())});
    if (reconciliation.measuredBeyondFilesystemTotal.value_or(0) != 0)
        facts.push_back({"square.stack.3d.up.fill", "Accounting overlap",
                         bytesText(*reconciliation.measuredBeyondFilesystemTotal),
                         "Clones, hard links, or changing files can make measured totals exceed filesystem occupancy.",
                         Tones::secondary()});
    return facts;
}

StorageFactsPanel::StorageFactsPanel(DiskModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName("storageFacts");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(0);
    placeholder_ = new ElidedLabel(QStringLiteral("Storage accounting appears after a scan."),
                                   CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    placeholder_->setWordWrap(true);
    placeholder_->setContentsMargins(18, 18, 18, 18);
    column->addWidget(placeholder_);
    cards_ = new QVBoxLayout;
    cards_->setContentsMargins(0, 0, 0, 0);
    cards_->setSpacing(12);
    column->addLayout(cards_);
    column->addStretch(1);

    connect(&model_, &DiskModel::insightsChanged, this, &StorageFactsPanel::sync);
    connect(&model_, &DiskModel::volumesChanged, this, &StorageFactsPanel::sync);
    sync();
}

// Most changes of the model touch neither figure: the cards stay as they are.
void StorageFactsPanel::sync()
{
    Built now{model_.reconciliation(), model_.snapshotSummary()};
    if (built_ == now) return;
    for (auto* card : shown_) {
        cards_->removeWidget(card);
        card->hide();
        card->deleteLater();
    }
    shown_.clear();
    placeholder_->setVisible(!now.reconciliation);
    const auto facts =
        now.reconciliation ? storageFacts(*now.reconciliation, now.snapshots) : std::vector<StorageFact>{};
    for (const auto& fact : facts) {
        auto* card = factCard(fact);
        cards_->addWidget(card);
        shown_.push_back(card);
    }
    built_ = std::move(now);
}

// Read from the cards themselves: what is drawn, not what was meant.
QStringList StorageFactsPanel::titles() const
{
    QStringList titles;
    for (auto* card : shown_) titles << card->findChild<ElidedLabel*>("factTitle")->text();
    return titles;
}

QString StorageFactsPanel::cardText(const QString& title, const char* part) const
{
    for (auto* card : shown_)
        if (card->findChild<ElidedLabel*>("factTitle")->text() == title)
            return card->findChild<ElidedLabel*>(part)->text();
    return {};
}

QString StorageFactsPanel::value(const QString& title) const
{
    return cardText(title, "factValue");
}

QString StorageFactsPanel::detail(const QString& title) const
{
    return cardText(title, "factDetail");
}

bool StorageFactsPanel::showsPlaceholder() const
{
    return placeholder_->isVisibleTo(this);
}

}  // namespace corvalent
