#include "ui/widgets/symbol_drawings.h"

#include <QHash>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>

namespace corvalent {

namespace Symbols {
namespace {

// A filled disc with the given marks cut out of it.
Drawing filledCircle(const QPainterPath& marks)
{
    QPainterPath path;
    path.addEllipse(QPointF(8, 8), 7.5, 7.5);
    path.addPath(marks);
    path.setFillRule(Qt::OddEvenFill);
    return {path, true};
}

QPainterPath pulseLine()
{
    QPainterPath path;
    path.moveTo(1, 9);
    path.lineTo(4.5, 9);
    path.lineTo(6, 5);
    path.lineTo(8, 13);
    path.lineTo(10, 3);
    path.lineTo(11.5, 9);
    path.lineTo(15, 9);
    return path;
}

QPainterPath codeBrackets()
{
    QPainterPath path;
    path.moveTo(5, 4);
    path.lineTo(1.5, 8);
    path.lineTo(5, 12);
    path.moveTo(11, 4);
    path.lineTo(14.5, 8);
    path.lineTo(11, 12);
    path.moveTo(9.5, 2.5);
    path.lineTo(6.5, 13.5);
    return path;
}

QPainterPath memoryChip()
{
    QPainterPath path;
    path.addRoundedRect(3.5, 3.5, 9, 9, 1.5, 1.5);
    for (const double at : {5.5, 8.0, 10.5}) {
        path.moveTo(at, 1);
        path.lineTo(at, 3.5);
        path.moveTo(at, 12.5);
        path.lineTo(at, 15);
    }
    return path;
}

// A ring whose left half is filled with close strokes.
QPainterPath halfFilledCircle()
{
    QPainterPath path;
    path.addEllipse(QPointF(8, 8), 6, 6);
    for (double x = 3.0; x <= 8.0; x += 1.0) {
        const double half = std::sqrt(std::max(0.0, 5.4 * 5.4 - (x - 8) * (x - 8)));
        path.moveTo(x, 8 - half);
        path.lineTo(x, 8 + half);
    }
    return path;
}

// A bold arrow pointing right across the middle of the 16-unit box.
QPainterPath rightArrow()
{
    QPainterPath arrow;
    arrow.moveTo(4.2, 7.1);
    arrow.lineTo(8.6, 7.1);
    arrow.lineTo(6.9, 5.4);
    arrow.lineTo(8.1, 4.2);
    arrow.lineTo(11.9, 8);
    arrow.lineTo(8.1, 11.8);
    arrow.lineTo(6.9, 10.6);
    arrow.lineTo(8.6, 8.9);
    arrow.lineTo(4.2, 8.9);
    arrow.closeSubpath();
    return arrow;
}

// A shield, pointed at the bottom, filling the height of the box.
QPainterPath shield()
{
    QPainterPath path;
    path.moveTo(8, 1);
    path.lineTo(14, 3.2);
    path.lineTo(14, 7.5);
    path.cubicTo(14, 11.3, 11.4, 13.8, 8, 15);
    path.cubicTo(4.6, 13.8, 2, 11.3, 2, 7.5);
    path.lineTo(2, 3.2);
    path.closeSubpath();
    return path;
}

// The check mark a shield carries in its middle.
QPainterPath shieldCheck()
{
    QPainterPath check;
    check.moveTo(5.3, 8.0);
    check.lineTo(7.3, 10.0);
    check.lineTo(10.8, 5.8);
    return check;
}

// Each symbol name and its drawing, made only when the symbol is first drawn.
using Draw = Drawing (*)();

const QHash<QString, Draw>& drawings()
{
    static const QHash<QString, Draw> table{
        {"waveform.path.ecg", [] { return Drawing{pulseLine()}; }},
        {"chevron.left.forwardslash.chevron.right", [] { return Drawing{codeBrackets()}; }},
        {"memorychip", [] { return Drawing{memoryChip()}; }},
        {"circle.lefthalf.filled", [] { return Drawing{halfFilledCircle()}; }},
        {"info.circle",
         [] {
             QPainterPath path;
             path.addEllipse(QPointF(8, 8), 6.5, 6.5);
             path.moveTo(8, 7.2);
             path.lineTo(8, 11.5);
             path.addEllipse(QPointF(8, 4.9), 0.35, 0.35);
             return Drawing{path};
         }},
        {"pause.circle.fill",
         [] {
             QPainterPath bars;
             bars.addRoundedRect(5.2, 4.5, 2, 7, 0.8, 0.8);
             bars.addRoundedRect(8.8, 4.5, 2, 7, 0.8, 0.8);
             return filledCircle(bars);
         }},
        {"arrow.right.circle.fill", [] { return filledCircle(rightArrow()); }},
        {"stop.circle.fill",
         [] {
             QPainterPath square;
             square.addRoundedRect(5, 5, 6, 6, 1, 1);
             return filledCircle(square);
         }},
        {"viewfinder",
         [] {
             // Four corner brackets around the middle.
             QPainterPath corners;
             for (const auto& [x, y, dx, dy] : {std::array{2.0, 2.0, 1.0, 1.0}, std::array{14.0, 2.0, -1.0, 1.0},
                                                std::array{2.0, 14.0, 1.0, -1.0}, std::array{14.0, 14.0, -1.0, -1.0}}) {
                 corners.moveTo(x, y + 3.6 * dy);
                 corners.lineTo(x, y);
                 corners.lineTo(x + 3.6 * dx, y);
             }
             corners.addEllipse(QPointF(8, 8), 1.6, 1.6);
             return Drawing{corners};
         }},
        {"arrow.down.circle.fill",
         [] {
             // The right arrow turned a quarter clockwise about the middle.
             const auto turn = QTransform().translate(8, 8).rotate(90).translate(-8, -8);
             return filledCircle(turn.map(rightArrow()));
         }},
        {"cylinder.fill",
         [] {
             // A drum whose lid shows as a line cut across its top.
             QPainterPath body;
             body.addEllipse(QPointF(8, 3.6), 5.6, 2.1);
             body.addRect(2.4, 3.6, 11.2, 8.8);
             body.addEllipse(QPointF(8, 12.4), 5.6, 2.1);
             body = body.simplified();
             QPainterPath lid;
             lid.moveTo(2.4, 3.6);
             lid.cubicTo(2.4, 6.4, 13.6, 6.4, 13.6, 3.6);
             QPainterPathStroker stroke;
             stroke.setWidth(1.1);
             return Drawing{body.subtracted(stroke.createStroke(lid)), true};
         }},
        {"point.3.connected.trianglepath.dotted",
         [] {
             // Three nodes at the corners of a triangle, joined by dotted edges.
             const std::array<QPointF, 3> corners{QPointF(8, 2.6), QPointF(2.6, 13), QPointF(13.4, 13)};
             QPainterPath path;
             for (std::size_t i = 0; i < corners.size(); ++i) {
                 path.addEllipse(corners[i], 2.1, 2.1);
                 const auto& to = corners[(i + 1) % corners.size()];
                 for (const double t : {0.32, 0.5, 0.68})
                     path.addEllipse(corners[i] + (to - corners[i]) * t, 0.65, 0.65);
             }
             return Drawing{path, true};
         }},
        {"circle.fill", [] { return filledCircle({}); }},
        {"circle",
         [] {
             QPainterPath ring;
             ring.addEllipse(QPointF(8, 8), 6.8, 6.8);
             return Drawing{ring};
         }},
        {"minus.circle.fill",
         [] {
             QPainterPath bar;
             bar.addRoundedRect(4.3, 7.1, 7.4, 1.8, 0.9, 0.9);
             return filledCircle(bar);
         }},
        {"xmark.circle.fill",
         [] {
             QPainterPath cross;
             cross.moveTo(5.6, 5.6);
             cross.lineTo(10.4, 10.4);
             cross.moveTo(10.4, 5.6);
             cross.lineTo(5.6, 10.4);
             QPainterPathStroker stroke;
             stroke.setWidth(1.6);
             stroke.setCapStyle(Qt::RoundCap);
             QPainterPath disc;
             disc.addEllipse(QPointF(8, 8), 7.5, 7.5);
             return Drawing{disc.subtracted(stroke.createStroke(cross)), true};
         }},
        {"arrow.forward.circle",
         [] {
             QPainterPath path;
             path.addEllipse(QPointF(8, 8), 6.8, 6.8);
             path.moveTo(4.8, 8);
             path.lineTo(11, 8);
             path.moveTo(8.3, 5.3);
             path.lineTo(11, 8);
             path.lineTo(8.3, 10.7);
             return Drawing{path};
         }},
        {"stop.circle",
         [] {
             QPainterPath path;
             path.addEllipse(QPointF(8, 8), 6.8, 6.8);
             path.addRoundedRect(5.6, 5.6, 4.8, 4.8, 0.8, 0.8);
             return Drawing{path};
         }},
        {"checkmark.circle.fill",
         [] {
             // A bold check cut out of the disc, whatever the desktop's icon theme draws.
             QPainterPath check;
             check.moveTo(4.7, 8.3);
             check.lineTo(7.0, 10.6);
             check.lineTo(11.3, 5.7);
             QPainterPathStroker stroke;
             stroke.setWidth(1.9);
             stroke.setCapStyle(Qt::RoundCap);
             stroke.setJoinStyle(Qt::RoundJoin);
             QPainterPath disc;
             disc.addEllipse(QPointF(8, 8), 7.5, 7.5);
             return Drawing{disc.subtracted(stroke.createStroke(check)), true};
         }},
        {"checkmark.seal.fill",
         [] {
             // A rosette of twelve rounded points with a check cut out.
             QPainterPath seal;
             constexpr int points = 12;
             for (int i = 0; i <= 2 * points; ++i) {
                 const double angle = i * M_PI / points - M_PI / 2;
                 const double reach = i % 2 == 0 ? 7.6 : 6.5;
                 const QPointF at(8 + reach * std::cos(angle), 8 + reach * std::sin(angle));
                 if (i == 0)
                     seal.moveTo(at);
                 else
                     seal.lineTo(at);
             }
             QPainterPath check;
             check.moveTo(5.0, 8.2);
             check.lineTo(7.1, 10.3);
             check.lineTo(11.0, 5.9);
             QPainterPathStroker stroke;
             stroke.setWidth(1.7);
             stroke.setCapStyle(Qt::RoundCap);
             stroke.setJoinStyle(Qt::RoundJoin);
             return Drawing{seal.subtracted(stroke.createStroke(check)), true};
         }},
        {"equal.circle",
         [] {
             QPainterPath path;
             path.addEllipse(QPointF(8, 8), 6.8, 6.8);
             for (const double y : {6.3, 9.7}) {
                 path.moveTo(5.2, y);
                 path.lineTo(10.8, y);
             }
             return Drawing{path};
         }},
        {"circle.dotted",
         [] {
             QPainterPath dots;
             for (int i = 0; i < 12; ++i) {
                 const double angle = i * M_PI / 6;
                 dots.addEllipse(QPointF(8 + 6.6 * std::cos(angle), 8 + 6.6 * std::sin(angle)), 0.85, 0.85);
             }
             return Drawing{dots, true};
         }},
        {"exclamationmark.shield.fill",
         [] {
             QPainterPath mark;
             mark.addRoundedRect(7.1, 4.0, 1.8, 5.8, 0.9, 0.9);
             mark.addEllipse(QPointF(8, 11.7), 1.05, 1.05);
             return Drawing{shield().subtracted(mark), true};
         }},
        {"checkmark.shield.fill",
         [] {
             // The desktop's security icon is a bare shield: the check is cut out of ours.
             QPainterPathStroker stroke;
             stroke.setWidth(1.8);
             stroke.setCapStyle(Qt::RoundCap);
             stroke.setJoinStyle(Qt::RoundJoin);
             return Drawing{shield().subtracted(stroke.createStroke(shieldCheck())), true};
         }},
        {"checkmark.shield",
         [] {
             auto outline = QTransform().translate(8, 8).scale(0.9, 0.9).translate(-8, -8).map(shield());
             outline.addPath(shieldCheck());
             return Drawing{outline};
         }},
        {"wrench.and.screwdriver.fill",
         [] {
             const auto stroke = [](QPointF from, QPointF to, double width) {
                 QPainterPath line;
                 line.moveTo(from);
                 line.lineTo(to);
                 QPainterPathStroker stroker;
                 stroker.setWidth(width);
                 stroker.setCapStyle(Qt::RoundCap);
                 return stroker.createStroke(line);
             };
             // The screwdriver, top left to bottom right: a thick grip, a thin shaft.
             const auto driver = stroke({3, 3}, {6.2, 6.2}, 3.4).united(stroke({6.2, 6.2}, {13, 13}, 1.5));
             // The wrench across it: a handle and a ring head open to the top right.
             QPainterPath head;
             head.addEllipse(QPointF(11.2, 4.8), 3.3, 3.3);
             QPainterPath slot;
             slot.addRect(-0.95, -5, 1.9, 5);
             slot = QTransform().translate(11.2, 4.8).rotate(45).map(slot);
             const auto wrench = stroke({3.2, 12.8}, {9.6, 6.4}, 2.2).united(head).subtracted(slot);
             // A gap where the wrench lies over the screwdriver.
             const auto under = driver.subtracted(stroke({3.2, 12.8}, {9.6, 6.4}, 3.8));
             return Drawing{under.united(wrench), true};
         }},
        {"arrow.up.right.square",
         [] {
             QPainterPath path;
             path.addRoundedRect(2, 2, 12, 12, 2.6, 2.6);
             path.moveTo(5.8, 10.2);
             path.lineTo(10.2, 5.8);
             path.moveTo(6.6, 5.8);
             path.lineTo(10.2, 5.8);
             path.lineTo(10.2, 9.4);
             return Drawing{path};
         }},
        {"exclamationmark.octagon",
         [] {
             QPainterPath path;
             for (int i = 0; i <= 8; ++i) {
                 const double angle = (i + 0.5) * M_PI / 4;
                 const QPointF corner(8 + 7 * std::cos(angle), 8 + 7 * std::sin(angle));
                 if (i == 0)
                     path.moveTo(corner);
                 else
                     path.lineTo(corner);
             }
             path.moveTo(8, 4.6);
             path.lineTo(8, 8.8);
             path.addEllipse(QPointF(8, 11.3), 0.35, 0.35);
             return Drawing{path};
         }},
    };
    return table;
}

}  // namespace

std::optional<Drawing> drawnSymbol(const QString& symbol)
{
    const Draw draw = drawings().value(symbol, nullptr);
    if (draw == nullptr) return std::nullopt;
    return draw();
}

}  // namespace Symbols

}  // namespace corvalent
