#pragma once

// The sidebar's Storage mode: what the last scan measured set against the
// selected volume's file-system figures, with why the two differ.

#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <vector>

#include "core/disk/disk_insights.h"
#include "core/disk/disk_snapshots.h"
#include "ui/widgets/corvalent_style.h"

class QVBoxLayout;

namespace corvalent {

class DiskModel;
class ElidedLabel;

// The detail of the "Not measured by this scan" card: what the scan could
// not see, always ending with what no scan sees.
QString storageDifferenceExplanation(const DiskStorageReconciliation& reconciliation);
// The detail of the snapshots card.
QString snapshotExplanation(const APFSSnapshotSummary& summary);

// One card: its symbol, title, figure, what the figure means, and its colour.
struct StorageFact {
    QString symbol;
    QString title;
    QString value;
    QString detail;
    Tone tint;
};

// The cards for a reconciliation, in their fixed order, each only where it
// applies; at least three.
std::vector<StorageFact> storageFacts(const DiskStorageReconciliation& reconciliation,
                                      const std::optional<APFSSnapshotSummary>& snapshots);

class StorageFactsPanel : public QWidget {
public:
    explicit StorageFactsPanel(DiskModel& model, QWidget* parent = nullptr);

    // The titles of the cards shown, in order; empty while the placeholder shows.
    QStringList titles() const;
    // The card with that title's value and detail; empty strings when not shown.
    QString value(const QString& title) const;
    QString detail(const QString& title) const;
    bool showsPlaceholder() const;

private:
    void sync();
    QString cardText(const QString& title, const char* part) const;

    DiskModel& model_;
    ElidedLabel* placeholder_ = nullptr;
    QVBoxLayout* cards_ = nullptr;
    std::vector<QWidget*> shown_;
    struct Built {
        std::optional<DiskStorageReconciliation> reconciliation;
        std::optional<APFSSnapshotSummary> snapshots;
        bool operator==(const Built&) const = default;
    };
    std::optional<Built> built_;
};

}  // namespace corvalent
