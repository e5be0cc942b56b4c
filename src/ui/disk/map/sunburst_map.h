#pragma once

// The interactive disk map: the focused node in a round label in the middle,
// three rings of its contents around it, the slice under the pointer lifted
// out with a tooltip beside the pointer, and a click on a slice reported to
// the owner. The hovered node is the page's one shared value, so a sidebar
// row and the slice of the same node highlight together.

#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "core/disk/disk.h"
#include "ui/disk/map/sunburst_painting.h"
#include "ui/disk/map/sunburst_segments.h"

namespace corvalent {

class DiskViewState;

class SunburstDiskMap : public QWidget {
public:
    // `state` holds the shared hover; it outlives the map.
    explicit SunburstDiskMap(DiskViewState& state, QWidget* parent = nullptr);

    // The node drawn in the middle, owned by the caller, who keeps it alive
    // while it is set; null draws nothing. A node with another id is a new
    // map: it clears the shared hover and grows in again.
    void setRoot(const DiskNode* focused);
    const DiskNode* root() const { return root_; }
    // Called once per click on a slice, with the slice's node. The map may be
    // given a new root from inside it, but must not be deleted there.
    void setOnSelect(std::function<void(const DiskNode&)> onSelect) { onSelect_ = std::move(onSelect); }

    // What the map shows once running transitions have settled.
    std::optional<std::string> highlightedSegmentID() const;
    // Where the pointer entered the slice whose tooltip shows; none without one.
    std::optional<QPointF> tooltipAnchor() const;
    const std::optional<std::string>& pressedID() const { return pressedID_; }
    // The node in the centre label and its detail line.
    const DiskNode* centreNode() const;
    QString centreDetail() const;

    QSize sizeHint() const override { return {480, 480}; }
    QSize minimumSizeHint() const override { return {120, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The hover a frame is drawn for; a change animates from one to the next.
    struct HoverFrame {
        std::optional<std::string> hoveredID;
        std::optional<QPointF> anchor;
    };

    const DiskSegment* hitAt(const std::vector<DiskSegment>& segments, QPointF point) const;
    void hoverAt(QPointF point);
    void pressAt(QPointF point);
    void hoveredIDChanged();
    void updateLift();
    void appear();
    void clearInteraction();

    DiskViewState& state_;
    const DiskNode* root_ = nullptr;
    std::optional<std::string> rootID_;
    std::function<void(const DiskNode&)> onSelect_;

    std::optional<QPointF> tooltipAnchor_;
    std::optional<std::string> pressedID_;
    bool hasAppeared_ = false;

    // Shown values, moved by the running animations.
    HoverFrame from_;
    HoverFrame to_;
    double hoverProgress_ = 1;
    int hoverGeneration_ = 0;
    double lift_ = 1;
    double liftTarget_ = 1;
    int liftGeneration_ = 0;
    double appearance_ = 0;
    int appearGeneration_ = 0;
    SunburstPainting::RingCanvas canvas_;
};

// "Disk map for Documents, 1.5 GB".
QString diskMapAccessibleName(const DiskNode& root);
// The node's bytes, with its share of `root` while anything is hovered: "1.5 GB · 25%".
QString centreDetailText(const DiskNode& node, const DiskNode& root, bool hovering);
// "1.5 GB · 25% of this view": the share of the whole map, whatever the ring.
QString tooltipDetailText(const DiskNode& node, const DiskNode& root);
// Where the tooltip's centre goes for a pointer at `anchor`: above it, or
// below near the top edge, and kept clear of the area's edges.
QPointF tooltipCentre(QPointF anchor, QSizeF area);

}  // namespace corvalent
