#include "ui/disk/map/sunburst_painting.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/symbols.h"

namespace corvalent::SunburstPainting {
namespace {

QRectF circle(const SunburstGeometry& geometry, double radius)
{
    return {geometry.centreX - radius, geometry.centreY - radius, 2 * radius, 2 * radius};
}

// Scales what follows about `origin`.
void scaleAbout(QPainter& painter, QPointF origin, double scale)
{
    painter.translate(origin);
    painter.scale(scale, scale);
    painter.translate(-origin);
}

// A soft shadow of `shape`: outlines of growing width, each faint, so the
// shade falls off over `blur` points outside the edge; the shape drawn over
// it hides what lies inside. Stacking translucent outlines would hand each to
// Qt's worker threads, so they are drawn narrowest last, each replacing what
// lies below it with the opacity the stack has there, into a clear image
// laid over the painter once.
void paintSoftShadow(QPainter& painter, const QPainterPath& shape, double opacity, double blur, QPointF offset)
{
    constexpr int layers = 5;
    const QTransform place = QTransform::fromTranslate(offset.x(), offset.y()) * painter.worldTransform();
    const QRect area = place.mapRect(shape.boundingRect().adjusted(-blur, -blur, blur, blur)).toAlignedRect();
    if (area.isEmpty()) return;
    const double ratio = painter.device()->devicePixelRatioF();
    QImage image((QSizeF(area.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter shade(&image);
        shade.setRenderHint(QPainter::Antialiasing);
        shade.setCompositionMode(QPainter::CompositionMode_Source);
        shade.setTransform(place * QTransform::fromTranslate(-area.left(), -area.top()));
        // Together about half the shadow's opacity at the edge.
        const double each = opacity / (2 * layers);
        for (int layer = layers; layer >= 1; --layer) {
            const double stacked = 1 - std::pow(1 - each, layers - layer + 1);
            const QColor colour = CorvalentStyle::withAlpha(Qt::black, stacked);
            shade.strokePath(shape, QPen(colour, 2 * blur * layer / layers, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }
    }
    painter.save();
    painter.resetTransform();
    painter.drawImage(area.topLeft(), image);
    painter.restore();
}

QFont tooltipNameFont() { return CorvalentStyle::font(TextStyle::callout, QFont::DemiBold); }
QFont tooltipDetailFont() { return CorvalentStyle::font(TextStyle::caption2); }

constexpr double tooltipMaximumWidth = 220;
constexpr double tooltipPaddingX = 10, tooltipPaddingY = 8, barWidth = 4, barHeight = 30, barSpacing = 9,
                 lineSpacing = 2;
constexpr double tooltipTextWidth = tooltipMaximumWidth - 2 * tooltipPaddingX - barWidth - barSpacing;

}  // namespace

QPolygonF band(const SunburstGeometry& geometry, int depth, double inset, double start, double end,
               double angleInset)
{
    const double inner = geometry.ringInner(depth) + inset;
    const double outer = geometry.ringOuter(depth) - inset;
    if (outer <= inner) return {};
    const double first = start + angleInset, sweep = (end - angleInset) - first;
    // Chords whose middle lies at most 0.1 point off the outer arc.
    const double step = 2 * std::acos(1 - std::min(1.0, 0.1 / outer));
    const int chords = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / step)));
    QPolygonF outline;
    outline.reserve(2 * (chords + 1));
    const auto at = [&](double radius, int index) {
        const double angle = first + sweep * index / chords;
        return QPointF(geometry.centreX + radius * std::cos(angle), geometry.centreY + radius * std::sin(angle));
    };
    for (int index = 0; index <= chords; ++index) outline << at(outer, index);
    for (int index = chords; index >= 0; --index) outline << at(inner, index);
    return outline;
}

double plainFill(int depth)
{
    return std::max(0.96 - 0.13 * depth, 0.52);
}

void RingCanvas::paint(QPainter& painter, QSizeF area, const std::vector<DiskSegment>& segments,
                       const SunburstGeometry& geometry, const RingFrame& frame, const QPalette& palette)
{
    const double ratio = painter.device()->devicePixelRatioF();
    const QSize pixels = (area * ratio).toSize();
    const QColor outline = CorvalentStyle::primary(palette);
    if (segments != drawn_ || pixels != pixels_ || ratio != ratio_ || !(geometry == geometry_) ||
        outline != outline_)
        draw(pixels, ratio, segments, geometry, outline);

    std::vector<DiskSegment> own;
    for (const auto& [segment, look] : frame.own) own.push_back(*segment);
    if (own != cut_) {
        for (const auto& segment : cut_)
            if (std::find(own.begin(), own.end(), segment) == own.end()) restore(segment);
        for (const auto& segment : own)
            if (std::find(cut_.begin(), cut_.end(), segment) == cut_.end()) cut(segment);
        cut_ = std::move(own);
    }

    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double opacity = painter.opacity();
    painter.setOpacity(opacity * frame.dim);
    painter.drawImage(QPointF(0, 0), fills_);
    painter.setOpacity(opacity * plainStroke);
    painter.drawImage(QPointF(0, 0), outlines_);
    painter.restore();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto& [segment, look] : frame.own) {
        painter.setBrush(CorvalentStyle::withAlpha(DiskPalette::color(segment->colorIndex), look.fill));
        painter.setPen(QPen(CorvalentStyle::withAlpha(outline, look.stroke), 1));
        painter.drawPolygon(band(geometry, segment->depth, 2, segment->start, segment->end, 0.004));
    }
    painter.restore();
}

// A slice drawn with a look of its own leaves the images, along its exact
// angles and ring edges: the middle of the gaps around it.
void RingCanvas::cut(const DiskSegment& segment)
{
    const auto sector = band(geometry_, segment.depth, 0, segment.start, segment.end, 0);
    for (QImage* layer : {&fills_, &outlines_}) {
        QPainter eraser(layer);
        eraser.setRenderHint(QPainter::Antialiasing);
        eraser.setCompositionMode(QPainter::CompositionMode_Clear);
        eraser.setPen(Qt::NoPen);
        eraser.setBrush(Qt::black);
        eraser.drawPolygon(sector);
    }
}

void RingCanvas::restore(const DiskSegment& segment)
{
    const auto shape = band(geometry_, segment.depth, 2, segment.start, segment.end, 0.004);
    if (shape.isEmpty()) return;
    QPainter fills(&fills_), outlines(&outlines_);
    for (QPainter* layer : {&fills, &outlines}) layer->setRenderHint(QPainter::Antialiasing);
    fills.setCompositionMode(QPainter::CompositionMode_Source);
    fills.setPen(Qt::NoPen);
    fills.setBrush(CorvalentStyle::withAlpha(DiskPalette::color(segment.colorIndex), plainFill(segment.depth)));
    fills.drawPolygon(shape);
    outlines.setPen(QPen(outline_, 1));
    outlines.setBrush(Qt::NoBrush);
    outlines.drawPolygon(shape);
}

// Slices never overlap, so each fill is copied into the clear image as it
// is; the outlines are drawn opaque and given their opacity when laid over.
// The images are cut into strips of rows painted side by side: a full map
// takes several frames' time on one core.
void RingCanvas::draw(QSize pixels, double ratio, const std::vector<DiskSegment>& segments,
                      const SunburstGeometry& geometry, const QColor& outline)
{
    drawn_ = segments;
    cut_.clear();
    pixels_ = pixels;
    ratio_ = ratio;
    geometry_ = geometry;
    outline_ = outline;
    for (QImage* layer : {&fills_, &outlines_}) {
        if (layer->size() != pixels) *layer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        layer->setDevicePixelRatio(ratio);
        layer->fill(Qt::transparent);
    }
    struct Shape {
        QPolygonF outline;
        QRectF rows;  // in image pixels
        QColor fill;
    };
    std::vector<Shape> shapes;
    shapes.reserve(segments.size());
    const auto toPixels = QTransform::fromScale(ratio, ratio);
    for (const auto& segment : segments) {
        auto shape = band(geometry, segment.depth, 2, segment.start, segment.end, 0.004);
        if (shape.isEmpty()) continue;
        const auto rows = toPixels.mapRect(shape.boundingRect()).adjusted(-1, -1, 1, 1);
        shapes.push_back({std::move(shape), rows,
                          CorvalentStyle::withAlpha(DiskPalette::color(segment.colorIndex), plainFill(segment.depth))});
    }

    // Each strip is painted through images that borrow the layers' rows.
    uchar* const fillBits = fills_.bits();
    uchar* const outlineBits = outlines_.bits();
    const qsizetype stride = fills_.bytesPerLine();
    const auto paintStrip = [&](int top, int bottom) {
        if (bottom <= top) return;
        QImage fillRows(fillBits + top * stride, pixels.width(), bottom - top, stride, fills_.format());
        QImage outlineRows(outlineBits + top * stride, pixels.width(), bottom - top, stride, outlines_.format());
        QPainter fills(&fillRows), outlines(&outlineRows);
        for (QPainter* layer : {&fills, &outlines}) {
            layer->setRenderHint(QPainter::Antialiasing);
            layer->setTransform(toPixels * QTransform::fromTranslate(0, -top));
        }
        fills.setCompositionMode(QPainter::CompositionMode_Source);
        fills.setPen(Qt::NoPen);
        outlines.setPen(QPen(outline, 1));
        outlines.setBrush(Qt::NoBrush);
        for (const auto& shape : shapes) {
            if (shape.rows.bottom() < top || shape.rows.top() > bottom) continue;
            fills.setBrush(shape.fill);
            fills.drawPolygon(shape.outline);
            outlines.drawPolygon(shape.outline);
        }
    };
    // The calling thread and the workers each take the next strip until none is left.
    constexpr int strips = 16;
    std::atomic<int> next = 0;
    const auto paintStrips = [&] {
        for (int strip = next++; strip < strips; strip = next++)
            paintStrip(pixels.height() * strip / strips, pixels.height() * (strip + 1) / strips);
    };
    // Every core but the calling thread's, up to as many as there are strips to share.
    const int workers = std::clamp(QThread::idealThreadCount() - 1, 1, strips / 2 - 1);
    if (rasteriser_.maxThreadCount() != workers) rasteriser_.setMaxThreadCount(workers);
    QSemaphore done;
    for (int worker = 0; worker < workers; ++worker)
        rasteriser_.start([&] {
            paintStrips();
            done.release();
        });
    paintStrips();
    done.acquire(workers);
}

void paintHighlight(QPainter& painter, const DiskSegment& segment, const SunburstGeometry& geometry, double scale,
                    double opacity)
{
    QPainterPath path;
    path.addPolygon(band(geometry, segment.depth, 1, segment.start, segment.end, 0.003));
    path.closeSubpath();
    if (path.isEmpty() || opacity <= 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    scaleAbout(painter, {geometry.centreX, geometry.centreY}, scale);
    paintSoftShadow(painter, path, 0.11, 5, {0, 2});
    painter.setBrush(DiskPalette::color(segment.colorIndex));
    painter.setPen(QPen(CorvalentStyle::withAlpha(Qt::white, 0.82), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    painter.drawPath(path);
    painter.restore();
}

namespace {

constexpr int labelSymbolSize = 17;
constexpr double labelSpacing = 4;

QFont centreNameFont()
{
    return CorvalentStyle::font(TextStyle::headline);
}

QFont centreDetailFont()
{
    return CorvalentStyle::font(TextStyle::caption);
}

}  // namespace

CentreLabelLayout centreLabelLayout(const DiskNode& node, const QString& detail, const SunburstGeometry& geometry)
{
    const QPointF centre(geometry.centreX, geometry.centreY);
    const double radius = 1.72 * geometry.innerRadius / 2;
    const QFontMetricsF nameMetrics(centreNameFont()), detailMetrics(centreDetailFont());
    const double height =
        labelSymbolSize + labelSpacing + nameMetrics.height() + labelSpacing + detailMetrics.height();
    double top = centre.y() - height / 2;

    CentreLabelLayout layout;
    layout.disc = circle(geometry, radius);
    layout.symbol = QRectF(centre.x() - labelSymbolSize / 2.0, top, labelSymbolSize, labelSymbolSize);
    top += labelSymbolSize + labelSpacing;

    const double nameWidth = 1.38 * geometry.innerRadius;
    layout.elidedName = nameMetrics.elidedText(QString::fromStdString(node.name), Qt::ElideRight, nameWidth);
    const double nameShown = std::min(nameWidth, nameMetrics.horizontalAdvance(layout.elidedName));
    layout.name = QRectF(centre.x() - nameShown / 2, top, nameShown, nameMetrics.height());
    top += nameMetrics.height() + labelSpacing;

    const double detailShown = detailMetrics.horizontalAdvance(detail);
    layout.detail = QRectF(centre.x() - detailShown / 2, top, detailShown, detailMetrics.height());
    return layout;
}

void paintCentreLabel(QPainter& painter, const DiskNode& node, const QString& detail,
                      const SunburstGeometry& geometry, double scale, double opacity, const QPalette& palette)
{
    if (opacity <= 0) return;
    const QPointF centre(geometry.centreX, geometry.centreY);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    scaleAbout(painter, centre, scale);

    const auto layout = centreLabelLayout(node, detail, geometry);
    CorvalentStyle::paintPanel(painter, layout.disc, layout.disc.width() / 2,
                               CorvalentStyle::withAlpha(CorvalentStyle::windowBackground(palette), 0.88),
                               CorvalentStyle::border(palette));

    const auto symbol = Symbols::pixmap(node.isDirectory ? "folder.fill" : "doc.fill", CorvalentStyle::teal(),
                                        labelSymbolSize, painter.device()->devicePixelRatioF());
    const QSizeF symbolArea = symbol.deviceIndependentSize();
    painter.drawPixmap(layout.symbol.center() - QPointF(symbolArea.width() / 2, symbolArea.height() / 2), symbol);

    // Drawn in boxes a little wider than the texts, so that no rounding elides them.
    painter.setFont(centreNameFont());
    painter.setPen(CorvalentStyle::primary(palette));
    painter.drawText(layout.name.adjusted(-1, 0, 1, 0), Qt::AlignCenter, layout.elidedName);
    painter.setFont(centreDetailFont());
    painter.setPen(CorvalentStyle::secondary(palette));
    painter.drawText(layout.detail.adjusted(-1, 0, 1, 0), Qt::AlignCenter, detail);
    painter.restore();
}

QSizeF tooltipSize(const DiskNode& node, const QString& detail)
{
    const QFontMetricsF nameMetrics(tooltipNameFont()), detailMetrics(tooltipDetailFont());
    const double textWidth = std::min(tooltipTextWidth, std::max(nameMetrics.horizontalAdvance(QString::fromStdString(node.name)),
                                                                 detailMetrics.horizontalAdvance(detail)));
    const double textHeight = nameMetrics.height() + lineSpacing + detailMetrics.height();
    return {2 * tooltipPaddingX + barWidth + barSpacing + textWidth,
            2 * tooltipPaddingY + std::max(barHeight, textHeight)};
}

void paintTooltip(QPainter& painter, const DiskSegment& segment, const QString& detail, QPointF centre,
                  const SunburstGeometry& geometry, double scale, double opacity, const QPalette& palette)
{
    if (opacity <= 0) return;
    const DiskNode& node = *segment.node;
    const auto size = tooltipSize(node, detail);
    const QRectF area(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    scaleAbout(painter, {geometry.centreX, geometry.centreY}, scale);

    QPainterPath shape;
    shape.addRoundedRect(area, 8, 8);
    paintSoftShadow(painter, shape, 0.10, 7, {0, 3});
    CorvalentStyle::paintPanel(painter, area, 8,
                               CorvalentStyle::withAlpha(CorvalentStyle::windowBackground(palette), 0.97),
                               CorvalentStyle::border(palette));

    const QColor colour = DiskPalette::color(segment.colorIndex);
    const QRectF bar(area.left() + tooltipPaddingX, area.center().y() - barHeight / 2, barWidth, barHeight);
    QPainterPath barShape;
    barShape.addRoundedRect(bar, 2, 2);
    painter.fillPath(barShape, colour);

    const QFont nameFont = tooltipNameFont(), detailFont = tooltipDetailFont();
    const QFontMetricsF nameMetrics(nameFont), detailMetrics(detailFont);
    const double textLeft = bar.right() + barSpacing;
    const double textWidth = area.right() - tooltipPaddingX - textLeft;
    const double textHeight = nameMetrics.height() + lineSpacing + detailMetrics.height();
    const double top = area.center().y() - textHeight / 2;
    painter.setFont(nameFont);
    painter.setPen(CorvalentStyle::primary(palette));
    painter.drawText(QRectF(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(QString::fromStdString(node.name), Qt::ElideRight, textWidth));
    painter.setFont(detailFont);
    painter.setPen(CorvalentStyle::secondary(palette));
    painter.drawText(QRectF(textLeft, top + nameMetrics.height() + lineSpacing, textWidth, detailMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, detailMetrics.elidedText(detail, Qt::ElideRight, textWidth));
    painter.restore();
}

}  // namespace corvalent::SunburstPainting
