#pragma once

// The layers of the disk map, each painted from the values of one frame:
// the ring canvas, the lifted slice, the centre label and the tooltip.

#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QPalette>
#include <QString>
#include <QThreadPool>

#include <vector>

#include "ui/disk/map/sunburst_segments.h"

class QPainter;

namespace corvalent::SunburstPainting {

// A ring's band from `start` to `end`, `inset` points inside the ring's
// edges and `angleInset` radians inside the slice's ends, its arcs flattened
// to well under a tenth of a point. Empty where the ring is too narrow.
QPolygonF band(const SunburstGeometry& geometry, int depth, double inset, double start, double end,
               double angleInset);

// Fill and outline opacities of one slice of the canvas.
struct SliceLook {
    double fill;
    double stroke;
};

// What one frame of the canvas shows: every slice at its ring's opacity
// times `dim` with a plain outline, except those given a look of their own.
struct RingFrame {
    double dim = 1;
    std::vector<std::pair<const DiskSegment*, SliceLook>> own;
};

// The outline opacity of a plain slice.
inline constexpr double plainStroke = 0.06;
// The fill opacity of a plain slice of ring `depth`, before dimming.
double plainFill(int depth);

// The ring canvas. Its fills and outlines are drawn once into two clear
// images for a given slice list, size and outline colour, and laid over the
// painter at every frame: Qt hands translucent fills of many spans to worker
// threads, which costs far more than the fill, so hundreds of slices drawn
// one by one would not fit in a frame. The few slices with a look of their
// own are cut out of the images and drawn by the frame.
class RingCanvas {
public:
    // In the painter's transform and opacity.
    void paint(QPainter& painter, QSizeF area, const std::vector<DiskSegment>& segments,
               const SunburstGeometry& geometry, const RingFrame& frame, const QPalette& palette);

private:
    void draw(QSize pixels, double ratio, const std::vector<DiskSegment>& segments, const SunburstGeometry& geometry,
              const QColor& outline);
    void cut(const DiskSegment& segment);
    void restore(const DiskSegment& segment);

    // Threads that paint strips of the images beside the calling one.
    QThreadPool rasteriser_;
    std::vector<DiskSegment> drawn_;
    std::vector<DiskSegment> cut_;  // drawn by the frame, not the images
    QSize pixels_;
    double ratio_ = 0;
    SunburstGeometry geometry_;
    QColor outline_;
    QImage fills_;
    QImage outlines_;
};

// The hovered slice lifted out of its ring, scaled about the map's centre.
void paintHighlight(QPainter& painter, const DiskSegment& segment, const SunburstGeometry& geometry, double scale,
                    double opacity);

// Where the centre label puts its disc and its three lines (the symbol, the
// elided name, the detail), unscaled.
struct CentreLabelLayout {
    QRectF disc;
    QRectF symbol;
    QRectF name;
    QRectF detail;
    QString elidedName;
};
CentreLabelLayout centreLabelLayout(const DiskNode& node, const QString& detail, const SunburstGeometry& geometry);

// The round label in the hole, scaled about its centre.
void paintCentreLabel(QPainter& painter, const DiskNode& node, const QString& detail,
                      const SunburstGeometry& geometry, double scale, double opacity, const QPalette& palette);

// The tooltip's size for a slice's node and detail line.
QSizeF tooltipSize(const DiskNode& node, const QString& detail);
// The tooltip centred at `centre`, scaled about the map's centre.
void paintTooltip(QPainter& painter, const DiskSegment& segment, const QString& detail, QPointF centre,
                  const SunburstGeometry& geometry, double scale, double opacity, const QPalette& palette);

}  // namespace corvalent::SunburstPainting
