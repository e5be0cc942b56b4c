#pragma once

// The cards above the candidates in the Review list: what the last cleanup
// did, with a rescan; what moved to the Trash this session, with undo; how
// urgent free space is and how much measured data could win it back; and
// the storage of the running work. The list gives each card its data and
// shows it only when there is some; a card rebuilds nothing while that data
// stays the same.

#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

#include "core/disk/disk_insights.h"
#include "core/disk/trash/disk_trash.h"
#include "ui/widgets/panel.h"

namespace corvalent {

class Bar;
class Button;
class DiskModel;
class ElidedLabel;
class SymbolView;
struct DiskCleanupOutcome;

// The message of the last move or restore, and while the map is out of date
// the offer to rescan.
class CleanupStatusCard : public PanelSurface {
public:
    explicit CleanupStatusCard(DiskModel& model, QWidget* parent = nullptr);

    void present(bool mapNeedsRefresh, const std::optional<QString>& message);
    QString symbol() const;
    QStringList texts() const;
    Button& rescanButton() const { return *rescan_; }

private:
    SymbolView* symbol_;
    ElidedLabel* message_;
    ElidedLabel* rescanLine_;
    Button* rescan_;
};

// The newest receipts of this session, each with "Undo".
class RecentTrashCard : public PanelSurface {
public:
    static constexpr std::size_t shownReceipts = 3;

    explicit RecentTrashCard(DiskModel& model, QWidget* parent = nullptr);

    // Rebuilds the rows only when the receipts shown change.
    void present(const std::vector<DiskTrashReceipt>& receipts, bool cleanupInProgress);
    QString count() const;
    QStringList names() const;
    const std::vector<Button*>& undoButtons() const { return undo_; }
    // Runs when an Undo is pressed, before its restore is asked for.
    void setUndoPressed(std::function<void()> pressed) { undoPressed_ = std::move(pressed); }

private:
    DiskModel& model_;
    std::function<void()> undoPressed_;
    ElidedLabel* count_;
    QWidget* rows_;
    std::vector<DiskTrashReceipt> shown_;
    std::vector<ElidedLabel*> names_;
    std::vector<Button*> undo_;
};

// What a move or an Undo came to, said where it was asked for and told to
// screen readers: a success beside a check mark, a refusal in the warning
// colour.
class CleanupOutcomeLine : public QWidget {
public:
    explicit CleanupOutcomeLine(QWidget* parent = nullptr);

    void present(const DiskCleanupOutcome& outcome);
    QString text() const;

private:
    SymbolView* symbol_;
    ElidedLabel* text_;
};

// "Review 12.0 GB to reach 25.0 GB usable.", or what low-risk data remains,
// or that the disk is above the target.
QString rescueDetail(const DiskRescuePlan& plan);
// How much of the way to the target the measured candidates cover, 0 … 1;
// 1 when nothing is missing.
double rescueCoverage(const DiskRescuePlan& plan);
// Teal once the candidates cover the target, else orange.
QColor rescueBarTint(const DiskRescuePlan& plan);

class RescueCard : public PanelSurface {
public:
    explicit RescueCard(QWidget* parent = nullptr);

    void present(const DiskRescuePlan& plan);
    // The plan's tint: teal while comfortable, else orange.
    QColor tint() const { return tint_; }
    QStringList texts() const;
    // Hidden when nothing is missing.
    Bar& bar() const { return *bar_; }
    QColor lowRiskColour() const;
    QColor reviewColour() const;

private:
    std::optional<DiskRescuePlan> shown_;
    QColor tint_;
    SymbolView* symbol_;
    ElidedLabel* title_;
    ElidedLabel* detail_;
    Bar* bar_;
    ElidedLabel* lowRisk_;
    ElidedLabel* review_;
};

// "1.2 GB memory · 23% CPU", or "CPU —" where the share was not measured.
QString activeResourceDetail(const DiskActiveStorageSummary& summary);
// "Caches 1.2 GB · App 800 MB · Support 96 MB": the first three kinds.
QString activeStorageDetail(const DiskActiveStorageSummary& summary);

// The first three owners with their memory, CPU and linked storage.
class ActiveStorageCard : public PanelSurface {
public:
    static constexpr std::size_t shownSummaries = 3;

    explicit ActiveStorageCard(QWidget* parent = nullptr);

    void present(const std::vector<DiskActiveStorageSummary>& summaries);
    // Each row's lines, left then right.
    std::vector<QStringList> rows() const;
    int dividers() const;
    bool showsProtectionNote() const;

private:
    QWidget* rows_;
    ElidedLabel* protectionNote_;
    std::vector<DiskActiveStorageSummary> shown_;
    std::vector<QWidget*> rowViews_;
};

}  // namespace corvalent
