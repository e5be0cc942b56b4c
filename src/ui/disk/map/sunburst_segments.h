#pragma once

// The values the disk map is drawn and hit-tested from: its slices, its
// colours and its ring geometry. A slice points into the tree it was laid
// out from; the tree is shared, never copied, so laying out, painting and
// hit-testing cost the same whatever the size of the scan.

#include <QColor>

#include <array>
#include <string>
#include <vector>

#include "core/disk/disk.h"

namespace corvalent {

// One slice of a ring. Angles are radians with y growing downwards: 0 points
// right, angles grow clockwise, and a full map runs from -pi/2 (12 o'clock)
// to 3pi/2.
struct DiskSegment {
    const DiskNode* node = nullptr;  // into the tree given to makeSegments
    double start = 0;
    double end = 0;
    int depth = 0;       // 0 (innermost) to 2
    int colorIndex = 0;  // before reduction to the palette, 0 to 8

    // The node's id, a colon and the depth: "/Library:0".
    std::string id() const;
    bool operator==(const DiskSegment&) const = default;
};

namespace DiskPalette {

// Seven opaque colours; a slice or row uses colors()[index % 7].
const std::array<QColor, 7>& colors();
QColor color(int colorIndex);

}  // namespace DiskPalette

// The slices for the node in focus, in pre-order: the first nine children
// of each node, three rings deep, each sharing its parent's arc by bytes.
// Slices of 0.003 rad or less are left out with everything below them.
std::vector<DiskSegment> makeSegments(const DiskNode& root);

// The rings of a map drawn in an area of the given size.
struct SunburstGeometry {
    double centreX = 0;
    double centreY = 0;
    double innerRadius = 0;  // the hole
    double ringWidth = 0;

    static SunburstGeometry of(double width, double height);
    double ringInner(int depth) const { return innerRadius + ringWidth * depth; }
    double ringOuter(int depth) const { return innerRadius + ringWidth * (depth + 1); }
    double outerRadius() const { return ringOuter(2); }
    bool operator==(const SunburstGeometry&) const = default;
};

// The slice under (x, y): its ring from the radius over the full ring span,
// its angle against the exact slice ranges, the earlier slice where two
// meet. Null in the hole, outside the map and over an empty angle.
const DiskSegment* hitSegment(const std::vector<DiskSegment>& segments, const SunburstGeometry& geometry, double x,
                              double y);

}  // namespace corvalent
