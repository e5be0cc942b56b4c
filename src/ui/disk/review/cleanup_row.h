#pragma once

// One cleanup candidate of the Review list as a card: what it is, how large,
// why it was offered, which running work uses it, how risky it is, and what
// may be done with it. Nothing here touches the item: the actions reveal it,
// or open the guide or the confirmation through the page's shared state.

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_cleanup_guides.h"
#include "core/disk/disk_insights.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/widgets/panel.h"

class QMenu;

namespace corvalent {

class Badge;
class Button;
class ElidedLabel;
class SymbolView;

inline const QString showSafeCleanupGuide = QStringLiteral("Show Safe Cleanup Guide");

// The symbol of the candidate's category; "Other" tells folders from files.
QString cleanupSymbol(const DiskCleanupCandidate& candidate);
// Safe is teal, review orange, protected the secondary colour.
Tone safetyTone(DiskCleanupSafety safety);
// "LOW RISK", "REVIEW", "PROTECTED".
QString safetyBadgeText(DiskCleanupSafety safety);
// The capsule with the safety's words in its colour.
Badge* cleanupBadge(DiskCleanupSafety safety);
// "In use by " and the first two owners; empty without owners.
QString activeOwnersText(const std::vector<std::string>& owners);

class CleanupRow : public PanelSurface {
public:
    CleanupRow(const DiskCleanupCandidate& candidate, const DiskRowContext& context, QWidget* parent = nullptr);

    const DiskCleanupCandidate& candidate() const { return candidate_; }
    // Shows another state of the same item without rebuilding the card.
    void setCandidate(const DiskCleanupCandidate& candidate);
    const std::optional<DiskCleanupGuide>& guide() const { return guide_; }

    // The texts the card shows, top to bottom, and its buttons as offered now.
    QStringList texts() const;
    QStringList actions() const;
    Button& revealButton() const { return *reveal_; }
    Button& guideButton() const { return *howToClean_; }
    Button& reviewButton() const { return *review_; }
    QColor badgeColour() const;
    // Reveal, review and the guide, as far as they apply.
    std::unique_ptr<QMenu> contextMenu();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void present(const DiskCleanupCandidate& candidate);

    DiskRowContext context_;
    DiskCleanupCandidate candidate_;
    std::optional<DiskCleanupGuide> guide_;
    SymbolView* symbol_ = nullptr;
    ElidedLabel* name_ = nullptr;
    ElidedLabel* category_ = nullptr;
    ElidedLabel* size_ = nullptr;
    ElidedLabel* reason_ = nullptr;
    QWidget* owners_ = nullptr;
    ElidedLabel* ownersText_ = nullptr;
    Badge* badge_ = nullptr;
    Button* howToClean_ = nullptr;
    Button* reveal_ = nullptr;
    Button* review_ = nullptr;
};

}  // namespace corvalent
