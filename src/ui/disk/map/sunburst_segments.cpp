#include "ui/disk/map/sunburst_segments.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "core/common/saturating.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

constexpr std::size_t childrenPerRing = 9;
constexpr int deepestRing = 2;
constexpr double thinnestSlice = 0.003;
constexpr double pi = std::numbers::pi;

std::span<const DiskNode> firstChildren(const DiskNode& node)
{
    return {node.children.data(), std::min(node.children.size(), childrenPerRing)};
}

void append(std::span<const DiskNode> children, double start, double end, int depth, int inheritedColor,
            std::vector<DiskSegment>& list)
{
    if (depth > deepestRing || children.empty()) return;
    std::uint64_t total = 0;
    for (const auto& child : children) total = saturatingAdd(total, child.bytes);
    if (total == 0) return;
    const double span = end - start;
    double current = start;
    int index = 0;
    for (const auto& child : children) {
        const double childEnd = current + span * (static_cast<double>(child.bytes) / static_cast<double>(total));
        if (childEnd - current > thinnestSlice) {
            const int colour = inheritedColor >= 0 ? inheritedColor : index;
            list.push_back({&child, current, childEnd, depth, colour});
            append(firstChildren(child), current, childEnd, depth + 1, colour, list);
        }
        current = childEnd;
        ++index;
    }
}

}  // namespace

std::string DiskSegment::id() const
{
    return (node ? node->id : std::string()) + ':' + std::to_string(depth);
}

namespace DiskPalette {

const std::array<QColor, 7>& colors()
{
    return CorvalentStyle::diskPalette();
}

QColor color(int colorIndex)
{
    return colors()[static_cast<std::size_t>(colorIndex) % colors().size()];
}

}  // namespace DiskPalette

std::vector<DiskSegment> makeSegments(const DiskNode& root)
{
    std::vector<DiskSegment> list;
    append(firstChildren(root), -pi / 2, 3 * pi / 2, 0, -1, list);
    return list;
}

SunburstGeometry SunburstGeometry::of(double width, double height)
{
    const double side = std::max(0.0, std::min(width, height));
    return {width / 2, height / 2, 0.17 * side, (0.48 * side - 0.17 * side) / 3};
}

const DiskSegment* hitSegment(const std::vector<DiskSegment>& segments, const SunburstGeometry& geometry, double x,
                              double y)
{
    if (geometry.ringWidth <= 0) return nullptr;
    const double dx = x - geometry.centreX, dy = y - geometry.centreY;
    const double r = std::hypot(dx, dy);
    if (r < geometry.innerRadius || r > geometry.outerRadius()) return nullptr;
    const int ring = std::clamp(static_cast<int>((r - geometry.innerRadius) / geometry.ringWidth), 0, deepestRing);
    double angle = std::atan2(dy, dx);
    if (angle < -pi / 2) angle += 2 * pi;
    const auto hit = std::find_if(segments.begin(), segments.end(), [&](const DiskSegment& segment) {
        return segment.depth == ring && segment.start <= angle && angle <= segment.end;
    });
    return hit == segments.end() ? nullptr : &*hit;
}

}  // namespace corvalent
