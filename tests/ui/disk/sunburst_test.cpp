// The disk map: how a tree is laid out into rings of slices, which slice a
// point hits, and the widget's hover, press and click on a real scanned tree,
// with screenshots of a hovered slice and its tooltip.
#include <QDir>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "live_environments.h"
#include "test_support.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/map/sunburst_map.h"
#include "ui/shell/app_appearance.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
constexpr double pi = std::numbers::pi;
constexpr std::uint64_t GiB = 1ULL << 30;

DiskNode node(const std::string& id, std::uint64_t bytes, std::vector<DiskNode> children = {})
{
    DiskNode made;
    made.id = id;
    made.name = id.substr(id.rfind('/') + 1);
    made.path = id;
    made.bytes = bytes;
    made.isDirectory = !children.empty();
    made.children = std::move(children);
    return made;
}

std::vector<std::string> ids(const std::vector<DiskSegment>& segments)
{
    std::vector<std::string> list;
    for (const auto& segment : segments) list.push_back(segment.id());
    return list;
}

const DiskSegment* find(const std::vector<DiskSegment>& segments, const std::string& id)
{
    for (const auto& segment : segments)
        if (segment.id() == id) return &segment;
    return nullptr;
}

// Slices of one ring follow each other clockwise without overlapping.
void expectNoOverlap(const std::vector<DiskSegment>& segments)
{
    for (int depth = 0; depth <= 2; ++depth) {
        double reached = -pi / 2;
        for (const auto& segment : segments) {
            if (segment.depth != depth) continue;
            EXPECT_GE(segment.start, reached) << segment.id();
            EXPECT_GT(segment.end - segment.start, 0.003) << segment.id();
            reached = segment.end;
        }
    }
}

TEST(SunburstSegments, NineChildrenThreeRingsDeepInPreOrderSharingTheTree)
{
    std::vector<DiskNode> children;
    for (int i = 0; i < 10; ++i) children.push_back(node("/r/c" + std::to_string(i), 100));
    // Counted against its siblings, not its parent's own bytes; the fourth ring is never laid out.
    children[7] = node("/r/c7", 100, {node("/r/c7/g0", 300, {node("/r/c7/g0/x", 10, {node("/r/c7/g0/x/deep", 5)})}),
                                      node("/r/c7/g1", 100)});
    children[9].bytes = 1'000'000;  // the tenth is neither drawn nor counted
    const auto root = node("/r", 2'000'000, std::move(children));

    const auto segments = makeSegments(root);
    EXPECT_EQ(ids(segments), (std::vector<std::string>{"/r/c0:0", "/r/c1:0", "/r/c2:0", "/r/c3:0", "/r/c4:0",
                                                       "/r/c5:0", "/r/c6:0", "/r/c7:0", "/r/c7/g0:1", "/r/c7/g0/x:2",
                                                       "/r/c7/g1:1", "/r/c8:0"}));
    EXPECT_EQ(segments.front().start, -pi / 2);
    EXPECT_NEAR(segments.back().end, 3 * pi / 2, 1e-12) << "the first nine close the circle";
    expectNoOverlap(segments);

    const auto& wedge = *find(segments, "/r/c7:0");
    EXPECT_EQ(wedge.node, &root.children[7]) << "a slice points into the tree it was given";
    const auto& inner = *find(segments, "/r/c7/g0:1");
    EXPECT_EQ(inner.start, wedge.start);
    EXPECT_NEAR(inner.end - inner.start, 0.75 * (wedge.end - wedge.start), 1e-12);
    EXPECT_EQ(find(segments, "/r/c7/g1:1")->end, wedge.end);
    for (const auto* id : {"/r/c7/g0:1", "/r/c7/g0/x:2", "/r/c7/g1:1"})
        EXPECT_EQ(find(segments, id)->colorIndex, 7) << id << " carries its wedge's colour";
}

TEST(SunburstSegments, EmptyZeroAndThinChildrenLeaveTheirAngleEmptyButKeepTheirIndex)
{
    EXPECT_TRUE(makeSegments(node("/r", 10)).empty());
    EXPECT_TRUE(makeSegments(node("/r", 10, {node("/r/a", 0), node("/r/b", 0, {node("/r/b/c", 5)})})).empty());

    // 4 of 20,014 bytes is 0.0013 rad, dropped with what lies below it; 10 is 0.0031 rad, kept.
    const auto root = node("/r", 20'014,
                           {node("/r/zero", 0), node("/r/a", 10'000), node("/r/thin", 4, {node("/r/thin/x", 4)}),
                            node("/r/b", 10'000), node("/r/slim", 10)});
    const auto segments = makeSegments(root);
    ASSERT_EQ(ids(segments), (std::vector<std::string>{"/r/a:0", "/r/b:0", "/r/slim:0"}));
    EXPECT_EQ(segments[0].start, -pi / 2) << "an empty child takes no angle";
    EXPECT_NEAR(segments[1].start - segments[0].end, 2 * pi * 4 / 20'014, 1e-12) << "a thin child's angle stays empty";
    EXPECT_EQ(segments[1].end, segments[2].start);
    EXPECT_EQ((std::vector{segments[0].colorIndex, segments[1].colorIndex, segments[2].colorIndex}),
              (std::vector{1, 3, 4}));
}

TEST(SunburstSegments, TotalsSaturateInsteadOfWrapping)
{
    const std::uint64_t half = 1ULL << 63;
    const auto segments = makeSegments(node("/r", std::numeric_limits<std::uint64_t>::max(),
                                            {node("/r/a", half), node("/r/b", half)}));
    ASSERT_EQ(segments.size(), 2U) << "a wrapped total of 0 would lay out nothing";
    EXPECT_NEAR(segments[0].end - segments[0].start, pi, 1e-9);
    EXPECT_NEAR(segments[1].end, 3 * pi / 2, 1e-9);
}

TEST(SunburstHitTest, RingFromTheRadiusSliceFromTheExactAngle)
{
    // The right half is /r/a with a child and a grandchild over it; the left half a file.
    const auto root = node("/r", 1000, {node("/r/a", 500, {node("/r/a/b", 500, {node("/r/a/b/c", 500)})}),
                                        node("/r/f", 500)});
    const auto segments = makeSegments(root);
    // Side 300 about the middle of the area: the hole ends at 51, the rings are 31 wide.
    const auto placed = SunburstGeometry::of(400, 300);
    ASSERT_NE(hitSegment(segments, placed, 200 + 60, 150), nullptr);
    EXPECT_EQ(hitSegment(segments, placed, 200 + 60, 150)->id(), "/r/a:0");
    // About the origin, so that points on the edges stay exact.
    auto geometry = placed;
    geometry.centreX = geometry.centreY = 0;
    const auto hit = [&](double x, double y) -> std::string {
        const auto* found = hitSegment(segments, geometry, x, y);
        return found ? found->id() : "none";
    };
    EXPECT_EQ(hit(std::nextafter(geometry.innerRadius, 0.0), 0), "none") << "the hole";
    EXPECT_EQ(hit(geometry.innerRadius, 0), "/r/a:0");
    EXPECT_EQ(hit(81.9, 0), "/r/a:0") << "the gap below a ring boundary";
    EXPECT_EQ(hit(82.1, 0), "/r/a/b:1") << "the gap above it";
    EXPECT_EQ(hit(geometry.outerRadius(), 0), "/r/a/b/c:2") << "the outer edge";
    EXPECT_EQ(hit(std::nextafter(geometry.outerRadius(), 200.0), 0), "none");
    EXPECT_EQ(hit(-100, 0), "none") << "a ring with no slice over a file";
    EXPECT_EQ(hit(0, 60), "/r/a:0") << "where two slices meet, the one ending there";
    EXPECT_EQ(hit(0, -60), "/r/a:0") << "12 o'clock is the start";
    EXPECT_EQ(hit(-0.001, -60), "/r/f:0") << "just left of 12 o'clock is the end";
    EXPECT_EQ(hitSegment(segments, SunburstGeometry::of(0, 300), 0, 150), nullptr) << "no area, no rings";
}

TEST(SunburstTexts, SharesOfTheWholeMapRoundHalvesAwayFromZero)
{
    const auto root = node("/r", 8 * GiB);
    EXPECT_EQ(centreDetailText(node("/r/a", GiB), root, true), "1.0 GB \u00b7 13%");
    EXPECT_EQ(centreDetailText(node("/r/a", GiB), root, false), "1.0 GB");
    EXPECT_EQ(tooltipDetailText(node("/r/a/b/c", 3 * GiB), root), "3.0 GB \u00b7 38% of this view");
    EXPECT_EQ(tooltipDetailText(node("/r/a", 0), node("/r", 0)), "0 MB \u00b7 0% of this view");

    // Above the pointer, below it near the top, clear of every edge.
    EXPECT_EQ(tooltipCentre({300, 200}, {600, 400}), QPointF(300, 152));
    EXPECT_EQ(tooltipCentre({300, 69}, {600, 400}), QPointF(300, 117));
    EXPECT_EQ(tooltipCentre({5, 395}, {600, 400}), QPointF(112, 347));
    EXPECT_EQ(tooltipCentre({598, 5}, {600, 400}), QPointF(488, 53));
    EXPECT_EQ(tooltipCentre({150, 200}, {200, 50}), QPointF(112, 34)) << "a small map";
}

// The map alone on a window-coloured host, as the map pane holds it.
struct MapHost {
    DiskViewState state;
    QWidget host;
    SunburstDiskMap* map = new SunburstDiskMap(state);
    std::vector<const DiskNode*> selected;

    explicit MapHost(const DiskNode& root, QSize size = {460, 460})
    {
        host.setPalette(lightPalette());
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(28, 28, 28, 28);
        layout->addWidget(map);
        map->setOnSelect([this](const DiskNode& clicked) { selected.push_back(&clicked); });
        map->setRoot(&root);
        host.resize(size);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        settle();
    }
    // Lets the grow-in and hover animations end.
    static void settle() { corvalent::settle(); }
    SunburstGeometry geometry() const { return SunburstGeometry::of(map->width(), map->height()); }
    // The middle of a slice, where the pointer goes to reach it.
    QPoint middle(const std::string& segmentID) const
    {
        const auto segments = makeSegments(*map->root());
        const auto* segment = find(segments, segmentID);
        EXPECT_NE(segment, nullptr) << segmentID;
        if (!segment) return {};
        const auto rings = geometry();
        const double angle = (segment->start + segment->end) / 2;
        const double radius = (rings.ringInner(segment->depth) + rings.ringOuter(segment->depth)) / 2;
        return QPointF(rings.centreX + radius * std::cos(angle), rings.centreY + radius * std::sin(angle)).toPoint();
    }
    QPoint hole() const { return map->rect().center(); }
    QColor pixel(QPoint at) const { return map->grab().toImage().pixelColor(at); }
};

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

DiskNode homeTree()
{
    std::vector<DiskNode> children{node("/home/Projects", 6 * GiB, {node("/home/Projects/app", 4 * GiB),
                                                                    node("/home/Projects/web", 2 * GiB)}),
                                   node("/home/Photos", 3 * GiB)};
    for (int i = 2; i < 9; ++i) children.push_back(node("/home/small" + std::to_string(i), GiB / 4));
    children.push_back(node("/home/tenth", 2 * GiB));
    return node("/home", 20 * GiB, std::move(children));
}

TEST(SunburstDiskMap, HoverIsTheSharedValueWhoeverSetsIt)
{
    const auto tree = homeTree();
    MapHost view(tree);
    auto& map = *view.map;
    EXPECT_EQ(map.accessibleName(), "Disk map for home, 20.0 GB");
    const auto projects = view.middle("/home/Projects:0"), photos = view.middle("/home/Photos:0");
    const auto undimmed = view.pixel(projects);

    const auto app = view.middle("/home/Projects/app:1");
    QTest::mouseMove(&map, app);
    EXPECT_EQ(view.state.hoveredID(), "/home/Projects/app");
    EXPECT_EQ(map.highlightedSegmentID(), "/home/Projects/app:1");
    EXPECT_EQ(map.tooltipAnchor(), QPointF(app));
    EXPECT_EQ(map.centreNode(), &tree.children[0].children[0]);
    EXPECT_EQ(map.centreDetail(), "4.0 GB \u00b7 20%") << "its share of the whole map";
    QTest::mouseMove(&map, app + QPoint(2, 3));
    EXPECT_EQ(map.tooltipAnchor(), QPointF(app)) << "the tooltip stays where the pointer entered the slice";

    QTest::mouseMove(&map, view.hole());
    EXPECT_EQ(view.state.hoveredID(), std::nullopt);
    EXPECT_EQ(map.tooltipAnchor(), std::nullopt);
    EXPECT_EQ(map.centreNode(), &tree);
    EXPECT_EQ(map.centreDetail(), "20.0 GB");

    // A row of a node the map does not draw dims every slice and lifts none.
    view.state.setHoveredID("/home/tenth");
    EXPECT_EQ(map.highlightedSegmentID(), std::nullopt);
    EXPECT_EQ(map.centreDetail(), "20.0 GB \u00b7 100%");
    MapHost::settle();
    const auto dimmed = view.pixel(projects);
    EXPECT_GT(std::abs(dimmed.lightness() - undimmed.lightness()), 40) << "dimmed " << dimmed.name().toStdString()
                                                                        << " from " << undimmed.name().toStdString();

    // A row of a drawn node lifts its slice, without a tooltip.
    view.state.setHoveredID("/home/Photos");
    EXPECT_EQ(map.highlightedSegmentID(), "/home/Photos:0");
    EXPECT_EQ(map.tooltipAnchor(), std::nullopt);
    EXPECT_EQ(map.centreNode(), &tree.children[1]);
    MapHost::settle();
    EXPECT_TRUE(near(view.pixel(photos), DiskPalette::color(1), 3)) << "the lifted slice is opaque";

    QTest::mouseMove(&map, photos);
    EXPECT_EQ(map.tooltipAnchor(), std::nullopt) << "the pointer came onto the slice already hovered";
    QTest::mouseMove(&map, projects);
    EXPECT_EQ(map.tooltipAnchor(), QPointF(projects));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&map, &leave);
    EXPECT_EQ(view.state.hoveredID(), std::nullopt);
    EXPECT_EQ(map.tooltipAnchor(), std::nullopt);
}

TEST(SunburstDiskMap, AClickSelectsTheSliceUnderTheRelease)
{
    const auto tree = homeTree();
    MapHost view(tree);
    auto& map = *view.map;
    const auto projects = view.middle("/home/Projects:0"), photos = view.middle("/home/Photos:0");

    QTest::mousePress(&map, Qt::LeftButton, {}, projects);
    EXPECT_EQ(map.pressedID(), "/home/Projects");
    QTest::mouseMove(&map, photos);
    EXPECT_EQ(map.pressedID(), "/home/Photos");
    QTest::mouseRelease(&map, Qt::LeftButton, {}, photos);
    EXPECT_EQ(view.selected, std::vector<const DiskNode*>{&tree.children[1]});
    EXPECT_EQ(map.pressedID(), std::nullopt);

    QTest::mousePress(&map, Qt::LeftButton, {}, projects);
    QTest::mouseRelease(&map, Qt::LeftButton, {}, view.hole());
    EXPECT_EQ(view.selected.size(), 1U) << "a release in the hole selects nothing";
    EXPECT_EQ(map.pressedID(), std::nullopt);
}

// A scanned folder, drawn from the model's own result, its slices leading to
// the folders they stand for.
TEST(SunburstDiskMap, DrawsAScannedTree)
{
    const testing::TempDir dir;
    const auto home = fs::canonical(dir.path());
    constexpr std::size_t MB = 1 << 20;
    const std::vector<std::pair<const char*, std::size_t>> files{
        {"Projects/app/build.bin", 5 * MB}, {"Projects/app/main.o", 2 * MB}, {"Projects/web/bundle.js", 3 * MB},
        {"Photos/2024/trip.raw", 5 * MB},   {"Photos/2023/party.raw", 3 * MB}, {"Music/album.flac", 4 * MB},
        {"Videos/clip.mp4", 6 * MB},        {"Downloads/installer.iso", 3 * MB}, {"Downloads/old.zip", MB},
        {"Documents/report.pdf", 2 * MB},   {"notes.txt", MB / 2}};
    for (const auto& [name, bytes] : files) testing::writeFile(home / name, bytes);
    DiskModel model(quietDiskEnvironment());
    model.scan(home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
    ASSERT_TRUE(model.result());
    const DiskNode& root = model.result()->root;

    MapHost view(root, {520, 520});
    auto& map = *view.map;
    const DiskNode& largest = root.children.front();
    ASSERT_EQ(largest.path, (home / "Projects").string());
    const DiskNode& inner = largest.children.front();
    QTest::mouseMove(&map, view.middle(inner.id + ":1"));
    ASSERT_EQ(map.highlightedSegmentID(), inner.id + ":1");
    MapHost::settle();
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    for (const auto& [name, palette] : {std::pair("light", lightPalette()), std::pair("dark", darkPalette())}) {
        view.host.setPalette(palette);
        EXPECT_TRUE(view.host.grab().save(QString(CORVALENT_SCREENSHOTS) + "/sunburst-hover-" + name + ".png"));
    }

    QTest::mouseClick(&map, Qt::LeftButton, {}, view.middle(largest.id + ":0"));
    ASSERT_EQ(view.selected.size(), 1U);
    EXPECT_EQ(view.selected[0], &largest);
    BackgroundTask::pool(TaskLane::files).waitForDone(60'000);
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace corvalent
