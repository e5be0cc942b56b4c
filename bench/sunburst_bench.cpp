// Frames of the disk map at its fullest: three rings of nine by nine by
// nine slices, one slice lifted with its tooltip, painted into a 900 by 900
// image. Goal: under 8 ms per frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>

#include <array>
#include <cmath>
#include <memory>

#include "ui/disk/disk_view_state.h"
#include "ui/disk/map/sunburst_map.h"

namespace {

using namespace corvalent;

// The widgets need an application object: one, offscreen, for the whole run.
// It is never destroyed, as Qt's own statics may go first at exit.
void ensureApplication()
{
    if (QApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "corvalent_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    QApplication::setStyle("Fusion");
}

// Nine children of unequal sizes under every folder, three levels deep; the
// thinnest outer slice stays above the layout's 0.003 rad.
DiskNode fullTree(const std::string& id, int depth)
{
    DiskNode node;
    node.id = id;
    node.name = id.substr(id.rfind('/') + 1);
    node.path = id;
    node.isDirectory = depth < 3;
    if (depth == 3) return node;
    for (int i = 0; i < 9; ++i) {
        auto child = fullTree(id + "/folder " + std::to_string(i), depth + 1);
        child.bytes = static_cast<std::uint64_t>(100 + 5 * i) * 1'000'000;
        node.bytes += child.bytes;
        node.children.push_back(std::move(child));
    }
    return node;
}

void waitForAnimations()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 600) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The map over `root` in a 900 by 900 area, the pointer over a slice of
// the middle ring: lifted, with its tooltip. Null when that did not happen.
std::unique_ptr<SunburstDiskMap> hoveredMap(DiskViewState& shared, const DiskNode& root, benchmark::State& state)
{
    const auto segments = makeSegments(root);
    if (segments.size() != 819) {
        state.SkipWithError("the tree does not fill three rings");
        return nullptr;
    }
    auto map = std::make_unique<SunburstDiskMap>(shared);
    map->resize(900, 900);
    map->setRoot(&root);
    map->show();
    const auto geometry = SunburstGeometry::of(900, 900);
    const auto& hovered = segments[1];
    const double angle = (hovered.start + hovered.end) / 2;
    const double radius = (geometry.ringInner(hovered.depth) + geometry.ringOuter(hovered.depth)) / 2;
    const QPointF point(geometry.centreX + radius * std::cos(angle), geometry.centreY + radius * std::sin(angle));
    QMouseEvent move(QEvent::MouseMove, point, map->mapToGlobal(point), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(map.get(), &move);
    waitForAnimations();
    if (!map->tooltipAnchor()) {
        state.SkipWithError("no slice is hovered");
        return nullptr;
    }
    return map;
}

// A frame as hovering, pressing or an expose repaints it.
void BM_SunburstPaint(benchmark::State& state)
{
    ensureApplication();
    const auto root = fullTree("/home", 0);
    DiskViewState shared;
    const auto map = hoveredMap(shared, root, state);
    if (!map) return;
    QImage image(900, 900, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        map->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_SunburstPaint)->Unit(benchmark::kMillisecond);

// A frame after the slices changed (another tree of the same shape each
// time), as after a new scan, a resize or a switch between light and dark:
// every slice is drawn again.
void BM_SunburstPaintNewSlices(benchmark::State& state)
{
    ensureApplication();
    const std::array trees{fullTree("/home", 0), fullTree("/home", 0)};
    DiskViewState shared;
    const auto map = hoveredMap(shared, trees[0], state);
    if (!map) return;
    QImage image(900, 900, QImage::Format_ARGB32_Premultiplied);
    std::size_t frame = 0;
    for (auto _ : state) {
        map->setRoot(&trees[++frame % trees.size()]);
        image.fill(Qt::transparent);
        map->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_SunburstPaintNewSlices)->Unit(benchmark::kMillisecond);

}  // namespace
