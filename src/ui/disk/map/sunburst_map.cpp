#include "ui/disk/map/sunburst_map.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/disk/disk_view_state.h"
#include "ui/disk/map/sunburst_painting.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/display_formats.h"

namespace corvalent {
namespace {

namespace Paint = SunburstPainting;

const QString dot = QStringLiteral(" \u00b7 ");

constexpr double hoverLift = 1.012;

// The node's part of `root` in whole percent, halves away from zero.
QString percentOf(const DiskNode& node, const DiskNode& root)
{
    const double share = root.bytes == 0 ? 0 : static_cast<double>(node.bytes) / static_cast<double>(root.bytes);
    return QString::number(std::llround(share * 100));
}

const DiskSegment* hoveredSegment(const std::vector<DiskSegment>& segments, const std::optional<std::string>& id)
{
    if (!id) return nullptr;
    const auto found = std::find_if(segments.begin(), segments.end(),
                                    [&](const DiskSegment& segment) { return segment.node->id == *id; });
    return found == segments.end() ? nullptr : &*found;
}

double mix(double from, double to, double progress)
{
    return from + (to - from) * progress;
}

// Scales what follows about `origin`.
void scaleAbout(QPainter& painter, QPointF origin, double scale)
{
    painter.translate(origin);
    painter.scale(scale, scale);
    painter.translate(-origin);
}

}  // namespace

QString diskMapAccessibleName(const DiskNode& root)
{
    return "Disk map for " + QString::fromStdString(root.name) + ", " + bytesText(root.bytes);
}

QString centreDetailText(const DiskNode& node, const DiskNode& root, bool hovering)
{
    if (!hovering) return bytesText(node.bytes);
    return bytesText(node.bytes) + dot + percentOf(node, root) + "%";
}

QString tooltipDetailText(const DiskNode& node, const DiskNode& root)
{
    return bytesText(node.bytes) + dot + percentOf(node, root) + "% of this view";
}

QPointF tooltipCentre(QPointF anchor, QSizeF area)
{
    const double x = std::min(std::max(anchor.x(), 112.0), std::max(area.width() - 112, 112.0));
    const double y0 = anchor.y() < 70 ? anchor.y() + 48 : anchor.y() - 48;
    const double y = std::min(std::max(y0, 34.0), std::max(area.height() - 34, 34.0));
    return {x, y};
}

SunburstDiskMap::SunburstDiskMap(DiskViewState& state, QWidget* parent) : QWidget(parent), state_(state)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    from_ = to_ = {state_.hoveredID(), std::nullopt};
    lift_ = liftTarget_ = AppMotion::reduceMotion() ? 1.0 : hoverLift;
    connect(&state_, &DiskViewState::hoveredIDChanged, this, [this] { hoveredIDChanged(); });
}

void SunburstDiskMap::setRoot(const DiskNode* focused)
{
    root_ = focused;
    setAccessibleName(focused ? diskMapAccessibleName(*focused) : QString());
    std::optional<std::string> id;
    if (focused) id = focused->id;
    if (id != rootID_) {
        // Another node is another map: no hover of the last one stays behind.
        rootID_ = std::move(id);
        clearInteraction();
        from_ = to_;
        hoverProgress_ = 1;
        ++hoverGeneration_;
        hasAppeared_ = false;
        if (isVisible()) appear();
    }
    update();
}

std::optional<std::string> SunburstDiskMap::highlightedSegmentID() const
{
    if (!root_) return std::nullopt;
    const auto segments = makeSegments(*root_);
    const auto* hovered = hoveredSegment(segments, to_.hoveredID);
    return hovered ? std::optional(hovered->id()) : std::nullopt;
}

std::optional<QPointF> SunburstDiskMap::tooltipAnchor() const
{
    return highlightedSegmentID() ? to_.anchor : std::nullopt;
}

const DiskNode* SunburstDiskMap::centreNode() const
{
    if (!root_) return nullptr;
    const auto segments = makeSegments(*root_);
    const auto* hovered = hoveredSegment(segments, to_.hoveredID);
    return hovered ? hovered->node : root_;
}

QString SunburstDiskMap::centreDetail() const
{
    const auto* node = centreNode();
    return node ? centreDetailText(*node, *root_, to_.hoveredID.has_value()) : QString();
}

void SunburstDiskMap::paintEvent(QPaintEvent*)
{
    if (!root_) return;
    const auto geometry = SunburstGeometry::of(width(), height());
    if (geometry.ringWidth <= 0) return;
    const DiskNode& root = *root_;
    const auto segments = makeSegments(root);
    const auto* hoveredFrom = hoveredSegment(segments, from_.hoveredID);
    const auto* hoveredTo = hoveredSegment(segments, to_.hoveredID);
    const double progress = hoverProgress_;
    const bool reduceMotion = AppMotion::reduceMotion();
    const QPointF centre(geometry.centreX, geometry.centreY);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(std::clamp(appearance_, 0.0, 1.0));
    scaleAbout(painter, centre, 0.965 + 0.035 * appearance_);

    // Every slice dims while anything is hovered; the hovered one fades most,
    // as its lifted copy is drawn above it.
    const auto dim = [](const HoverFrame& frame) { return frame.hoveredID ? 0.48 : 1.0; };
    const auto look = [&](const DiskSegment& segment, const HoverFrame& frame) -> Paint::SliceLook {
        if (frame.hoveredID == segment.node->id) return {0.18, 0.12};
        return {Paint::plainFill(segment.depth) * dim(frame), Paint::plainStroke};
    };
    Paint::RingFrame rings{mix(dim(from_), dim(to_), progress), {}};
    for (const auto* segment : {hoveredFrom, hoveredTo}) {
        if (segment == nullptr || (segment == hoveredTo && hoveredTo == hoveredFrom && !rings.own.empty())) continue;
        const auto from = look(*segment, from_), to = look(*segment, to_);
        rings.own.push_back({segment, {mix(from.fill, to.fill, progress), mix(from.stroke, to.stroke, progress)}});
    }
    canvas_.paint(painter, size(), segments, geometry, rings, palette());

    // A pressed slice sinks back into its ring.
    const auto liftOf = [&](const DiskSegment& segment) {
        return reduceMotion || pressedID_ == segment.node->id ? 1.0 : hoverLift;
    };
    if (hoveredTo != nullptr && hoveredTo == hoveredFrom) {
        Paint::paintHighlight(painter, *hoveredTo, geometry, lift_, 1);
    } else {
        if (hoveredFrom != nullptr)
            Paint::paintHighlight(painter, *hoveredFrom, geometry, liftOf(*hoveredFrom) * mix(1, 0.985, progress),
                                  1 - progress);
        if (hoveredTo != nullptr)
            Paint::paintHighlight(painter, *hoveredTo, geometry, lift_ * mix(0.985, 1, progress), progress);
    }

    const auto labelScale = [&](const HoverFrame& frame) { return frame.hoveredID && !reduceMotion ? 1.025 : 1.0; };
    const DiskNode& labelFrom = hoveredFrom ? *hoveredFrom->node : root;
    const DiskNode& labelTo = hoveredTo ? *hoveredTo->node : root;
    const auto detailTo = centreDetailText(labelTo, root, to_.hoveredID.has_value());
    if (&labelFrom == &labelTo) {
        Paint::paintCentreLabel(painter, labelTo, detailTo, geometry,
                                mix(labelScale(from_), labelScale(to_), progress), 1, palette());
    } else {
        Paint::paintCentreLabel(painter, labelFrom, centreDetailText(labelFrom, root, from_.hoveredID.has_value()),
                                geometry, labelScale(from_) * mix(1, 0.97, progress), 1 - progress, palette());
        Paint::paintCentreLabel(painter, labelTo, detailTo, geometry, labelScale(to_) * mix(0.97, 1, progress),
                                progress, palette());
    }

    const QSizeF area = size();
    const bool tooltipFrom = hoveredFrom != nullptr && from_.anchor;
    const bool tooltipTo = hoveredTo != nullptr && to_.anchor;
    if (tooltipFrom && tooltipTo && hoveredFrom == hoveredTo) {
        Paint::paintTooltip(painter, *hoveredTo, tooltipDetailText(*hoveredTo->node, root),
                            tooltipCentre(*to_.anchor, area), geometry, 1, 1, palette());
        return;
    }
    if (tooltipFrom)
        Paint::paintTooltip(painter, *hoveredFrom, tooltipDetailText(*hoveredFrom->node, root),
                            tooltipCentre(*from_.anchor, area), geometry, mix(1, 0.96, progress), 1 - progress,
                            palette());
    if (tooltipTo)
        Paint::paintTooltip(painter, *hoveredTo, tooltipDetailText(*hoveredTo->node, root),
                            tooltipCentre(*to_.anchor, area), geometry, mix(0.96, 1, progress), progress, palette());
}

const DiskSegment* SunburstDiskMap::hitAt(const std::vector<DiskSegment>& segments, QPointF point) const
{
    return hitSegment(segments, SunburstGeometry::of(width(), height()), point.x(), point.y());
}

// Moves within one slice change nothing, so the tooltip stays where the
// pointer entered the slice and nothing is redrawn.
void SunburstDiskMap::hoverAt(QPointF point)
{
    if (!root_) return;
    const auto segments = makeSegments(*root_);
    const auto* hit = hitAt(segments, point);
    std::optional<std::string> id;
    if (hit) id = hit->node->id;
    if (id == state_.hoveredID()) return;
    tooltipAnchor_ = hit ? std::optional(point) : std::nullopt;
    state_.setHoveredID(std::move(id));
}

void SunburstDiskMap::pressAt(QPointF point)
{
    if (!root_) return;
    const auto segments = makeSegments(*root_);
    const auto* hit = hitAt(segments, point);
    std::optional<std::string> id;
    if (hit) id = hit->node->id;
    if (id == pressedID_) return;
    pressedID_ = std::move(id);
    updateLift();
}

void SunburstDiskMap::hoveredIDChanged()
{
    from_ = to_;
    to_ = {state_.hoveredID(), tooltipAnchor_};
    hoverProgress_ = 0;
    const int generation = ++hoverGeneration_;
    AppMotion::animate(this, AppMotion::hover(), [this, generation](double t) {
        if (generation != hoverGeneration_) return;
        hoverProgress_ = std::min(t, 1.0);
        if (t >= 1) from_ = to_;
        update();
    });
    updateLift();
    update();
}

void SunburstDiskMap::updateLift()
{
    const bool pressed = to_.hoveredID && pressedID_ == to_.hoveredID;
    const double target = AppMotion::reduceMotion() || pressed ? 1.0 : hoverLift;
    if (target == liftTarget_) return;
    liftTarget_ = target;
    const double from = lift_;
    const int generation = ++liftGeneration_;
    AppMotion::animate(this, AppMotion::selection(), [this, from, target, generation](double t) {
        if (generation != liftGeneration_) return;
        lift_ = mix(from, target, t);
        update();
    });
}

void SunburstDiskMap::appear()
{
    hasAppeared_ = true;
    appearance_ = 0;
    const int generation = ++appearGeneration_;
    AppMotion::animate(this, AppMotion::standard(), [this, generation](double t) {
        if (generation != appearGeneration_) return;
        appearance_ = t;
        update();
    });
}

void SunburstDiskMap::clearInteraction()
{
    tooltipAnchor_.reset();
    pressedID_.reset();
    state_.setHoveredID(std::nullopt);
    to_.anchor.reset();
    updateLift();
    update();
}

void SunburstDiskMap::mouseMoveEvent(QMouseEvent* event)
{
    const auto point = event->position();
    hoverAt(point);
    if (event->buttons() & Qt::LeftButton) pressAt(point);
}

void SunburstDiskMap::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressAt(event->position());
}

// The slice under the release point is selected, wherever the press began.
void SunburstDiskMap::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !root_) return QWidget::mouseReleaseEvent(event);
    const auto segments = makeSegments(*root_);
    const auto* hit = hitAt(segments, event->position());
    const DiskNode* selected = hit ? hit->node : nullptr;
    pressedID_.reset();
    updateLift();
    if (selected && onSelect_) onSelect_(*selected);
}

void SunburstDiskMap::leaveEvent(QEvent* event)
{
    clearInteraction();
    QWidget::leaveEvent(event);
}

void SunburstDiskMap::showEvent(QShowEvent* event)
{
    if (!event->spontaneous() && !hasAppeared_) appear();
    QWidget::showEvent(event);
}

void SunburstDiskMap::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous()) {
        clearInteraction();
        hasAppeared_ = false;
        ++appearGeneration_;
        appearance_ = 0;
    }
    QWidget::hideEvent(event);
}

}  // namespace corvalent
