#include "ui/widgets/symbols.h"

#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QPixmapCache>
#include <QPainterPath>
#include <QTransform>

#include <array>
#include <cmath>

namespace corvalent {

namespace Symbols {
namespace {

// Symbol names the views use, and the desktop icons that show them.
const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {"externaldrive", "drive-removable-media-symbolic"},
        {"externaldrive.badge.exclamationmark", "drive-removable-media-symbolic"},
        {"folder.badge.plus", "folder-new-symbolic"},
        {"gauge.with.dots.needle.50percent", "power-profile-balanced-symbolic"},
        {"speedometer", "power-profile-performance-symbolic"},
        {"internaldrive", "drive-harddisk-symbolic"},
        {"chevron.right", "go-next-symbolic"},
        {"chevron.left", "go-previous-symbolic"},
        {"folder.fill", "folder-symbolic"},
        {"doc.fill", "text-x-generic-symbolic"},
        {"doc.on.doc", "edit-copy-symbolic"},
        {"clock", "preferences-system-time-symbolic"},
        {"exclamationmark.circle.fill", "emblem-important-symbolic"},
        {"exclamationmark.triangle.fill", "dialog-warning-symbolic"},
        {"arrow.triangle.2.circlepath", "emblem-synchronizing-symbolic"},
        {"scope", "system-search-symbolic"},
        {"terminal", "utilities-terminal-symbolic"},
        {"hammer", "applications-engineering-symbolic"},
        {"ladybug", "applications-science-symbolic"},
        {"puzzlepiece.extension", "application-x-addon-symbolic"},
        {"cursorarrow.motionlines", "input-mouse-symbolic"},
        {"iphone", "phone-symbolic"},
        {"iphone.gen3", "phone-symbolic"},
        {"app", "application-x-executable-symbolic"},
        {"gearshape", "emblem-system-symbolic"},
        {"lock.shield", "channel-secure-symbolic"},
        {"externaldrive.fill", "drive-harddisk-symbolic"},
        {"hand.raised.fill", "preferences-system-privacy-symbolic"},
        {"lock.slash.fill", "changes-prevent-symbolic"},
        {"lock.slash", "changes-prevent-symbolic"},
        {"plus.circle", "list-add-symbolic"},
        {"checkmark", "object-select-symbolic"},
        {"sun.max", "weather-clear-symbolic"},
        {"moon", "weather-clear-night-symbolic"},
        {"macwindow", "window-new-symbolic"},
        {"arrow.clockwise", "view-refresh-symbolic"},
        {"lock.open.fill", "changes-allow-symbolic"},
        {"lock.shield.fill", "changes-prevent-symbolic"},
        {"lock.fill", "changes-prevent-symbolic"},
        {"magnifyingglass", "edit-find-symbolic"},
        {"eye.slash", "view-conceal-symbolic"},
        {"square.stack.3d.up", "edit-copy-symbolic"},
        {"sparkles", "starred-symbolic"},
        {"checklist", "view-list-bullet-symbolic"},
        {"network", "network-wired-symbolic"},
        {"folder", "folder-symbolic"},
        {"hand.raised", "preferences-system-privacy-symbolic"},
        {"lock.open", "changes-allow-symbolic"},
        {"exclamationmark.triangle", "dialog-warning-symbolic"},
        {"arrow.uturn.backward.circle", "edit-undo-symbolic"},
        {"shippingbox.fill", "package-x-generic-symbolic"},
        {"doc.text.fill", "x-office-document-symbolic"},
        {"hammer.fill", "applications-engineering-symbolic"},
        {"archivebox.fill", "media-zip-symbolic"},
        {"app.fill", "application-x-executable-symbolic"},
        {"cube.box.fill", "application-x-appliance-symbolic"},
        {"icloud.fill", "weather-overcast-symbolic"},
        {"arrow.clockwise.circle", "view-refresh-symbolic"},
        {"trash", "user-trash-symbolic"},
        {"gauge.with.dots.needle.67percent", "power-profile-performance-symbolic"},
        {"doc.on.doc.fill", "edit-copy-symbolic"},
        {"icloud.and.arrow.down", "folder-download-symbolic"},
        {"questionmark.folder.fill", "dialog-question-symbolic"},
        {"externaldrive.badge.checkmark", "drive-harddisk-symbolic"},
        {"clock.arrow.circlepath", "document-open-recent-symbolic"},
        {"square.stack.3d.up.fill", "edit-copy-symbolic"},
    };
    return names;
}

// A drawing on a 16-unit grid: stroked lines, or a filled shape whose inner
// parts are cut out.
struct Drawing {
    QPainterPath path;
    bool filled = false;
};

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

// Shapes Adwaita has nothing close to.
std::optional<Drawing> drawnSymbol(const QString& symbol)
{
    if (symbol == "waveform.path.ecg") return Drawing{pulseLine()};
    if (symbol == "chevron.left.forwardslash.chevron.right") return Drawing{codeBrackets()};
    if (symbol == "memorychip") return Drawing{memoryChip()};
    if (symbol == "circle.lefthalf.filled") return Drawing{halfFilledCircle()};
    if (symbol == "info.circle") {
        QPainterPath path;
        path.addEllipse(QPointF(8, 8), 6.5, 6.5);
        path.moveTo(8, 7.2);
        path.lineTo(8, 11.5);
        path.addEllipse(QPointF(8, 4.9), 0.35, 0.35);
        return Drawing{path};
    }
    if (symbol == "pause.circle.fill") {
        QPainterPath bars;
        bars.addRoundedRect(5.2, 4.5, 2, 7, 0.8, 0.8);
        bars.addRoundedRect(8.8, 4.5, 2, 7, 0.8, 0.8);
        return filledCircle(bars);
    }
    if (symbol == "arrow.right.circle.fill") return filledCircle(rightArrow());
    if (symbol == "stop.circle.fill") {
        QPainterPath square;
        square.addRoundedRect(5, 5, 6, 6, 1, 1);
        return filledCircle(square);
    }
    if (symbol == "viewfinder") {
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
    }
    if (symbol == "arrow.down.circle.fill") {
        // The right arrow turned a quarter clockwise about the middle.
        const auto turn = QTransform().translate(8, 8).rotate(90).translate(-8, -8);
        return filledCircle(turn.map(rightArrow()));
    }
    if (symbol == "cylinder.fill") {
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
    }
    if (symbol == "point.3.connected.trianglepath.dotted") {
        // Three nodes at the corners of a triangle, joined by dotted edges.
        const std::array<QPointF, 3> corners{QPointF(8, 2.6), QPointF(2.6, 13), QPointF(13.4, 13)};
        QPainterPath path;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            path.addEllipse(corners[i], 2.1, 2.1);
            const auto& to = corners[(i + 1) % corners.size()];
            for (const double t : {0.32, 0.5, 0.68}) path.addEllipse(corners[i] + (to - corners[i]) * t, 0.65, 0.65);
        }
        return Drawing{path, true};
    }
    if (symbol == "circle.fill") return filledCircle({});
    if (symbol == "circle") {
        QPainterPath ring;
        ring.addEllipse(QPointF(8, 8), 6.8, 6.8);
        return Drawing{ring};
    }
    if (symbol == "minus.circle.fill") {
        QPainterPath bar;
        bar.addRoundedRect(4.3, 7.1, 7.4, 1.8, 0.9, 0.9);
        return filledCircle(bar);
    }
    if (symbol == "xmark.circle.fill") {
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
    }
    if (symbol == "arrow.forward.circle") {
        QPainterPath path;
        path.addEllipse(QPointF(8, 8), 6.8, 6.8);
        path.moveTo(4.8, 8);
        path.lineTo(11, 8);
        path.moveTo(8.3, 5.3);
        path.lineTo(11, 8);
        path.lineTo(8.3, 10.7);
        return Drawing{path};
    }
    if (symbol == "stop.circle") {
        QPainterPath path;
        path.addEllipse(QPointF(8, 8), 6.8, 6.8);
        path.addRoundedRect(5.6, 5.6, 4.8, 4.8, 0.8, 0.8);
        return Drawing{path};
    }
    if (symbol == "checkmark.circle.fill") {
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
    }
    if (symbol == "checkmark.seal.fill") {
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
    }
    if (symbol == "equal.circle") {
        QPainterPath path;
        path.addEllipse(QPointF(8, 8), 6.8, 6.8);
        for (const double y : {6.3, 9.7}) {
            path.moveTo(5.2, y);
            path.lineTo(10.8, y);
        }
        return Drawing{path};
    }
    if (symbol == "circle.dotted") {
        QPainterPath dots;
        for (int i = 0; i < 12; ++i) {
            const double angle = i * M_PI / 6;
            dots.addEllipse(QPointF(8 + 6.6 * std::cos(angle), 8 + 6.6 * std::sin(angle)), 0.85, 0.85);
        }
        return Drawing{dots, true};
    }
    if (symbol == "exclamationmark.shield.fill") {
        QPainterPath mark;
        mark.addRoundedRect(7.1, 4.0, 1.8, 5.8, 0.9, 0.9);
        mark.addEllipse(QPointF(8, 11.7), 1.05, 1.05);
        return Drawing{shield().subtracted(mark), true};
    }
    if (symbol == "checkmark.shield.fill") {
        // The desktop's security icon is a bare shield: the check is cut out of ours.
        QPainterPathStroker stroke;
        stroke.setWidth(1.8);
        stroke.setCapStyle(Qt::RoundCap);
        stroke.setJoinStyle(Qt::RoundJoin);
        return Drawing{shield().subtracted(stroke.createStroke(shieldCheck())), true};
    }
    if (symbol == "checkmark.shield") {
        auto outline = QTransform().translate(8, 8).scale(0.9, 0.9).translate(-8, -8).map(shield());
        outline.addPath(shieldCheck());
        return Drawing{outline};
    }
    if (symbol == "wrench.and.screwdriver.fill") {
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
    }
    if (symbol == "arrow.up.right.square") {
        QPainterPath path;
        path.addRoundedRect(2, 2, 12, 12, 2.6, 2.6);
        path.moveTo(5.8, 10.2);
        path.lineTo(10.2, 5.8);
        path.moveTo(6.6, 5.8);
        path.lineTo(10.2, 5.8);
        path.lineTo(10.2, 9.4);
        return Drawing{path};
    }
    if (symbol == "exclamationmark.octagon") {
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
    }
    return std::nullopt;
}

}  // namespace

QPixmap pixmap(const QString& symbol, const QColor& colour, int pixels, qreal devicePixelRatio)
{
    // Rows and views repaint often: each tinted size is drawn once.
    const auto key = QStringLiteral("symbol:%1:%2:%3:%4")
                         .arg(symbol, colour.name(QColor::HexArgb), QString::number(pixels),
                              QString::number(devicePixelRatio));
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    const int side = static_cast<int>(std::ceil(pixels * devicePixelRatio));
    QPixmap image(side, side);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const auto drawn = drawnSymbol(symbol)) {
        painter.scale(side / 16.0, side / 16.0);
        if (drawn->filled) {
            painter.fillPath(drawn->path, colour);
        } else {
            painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPath(drawn->path);
        }
    } else {
        const auto icon = QIcon::fromTheme(themeNames().value(symbol, "image-missing-symbolic"));
        painter.drawPixmap(0, 0, icon.pixmap(side, side));
        // Symbolic icons are drawn in one colour: recolour them.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
    }
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, image);
    return image;
}

}  // namespace Symbols

SymbolView::SymbolView(QString symbol, int size, Tone tone, QSize frame, std::optional<Tile> tile, QWidget* parent)
    : QWidget(parent), symbol_(std::move(symbol)), size_(size), tone_(std::move(tone)), tile_(tile)
{
    setFixedSize(frame.isValid() ? frame : QSize(size, size));
}

void SymbolView::setSymbol(const QString& symbol)
{
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void SymbolView::setTone(Tone tone)
{
    tone_ = std::move(tone);
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto colour = tone_(palette());
    if (tile_) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), tile_->radius, tile_->radius);
        painter.fillPath(shape, CorvalentStyle::withAlpha(colour, tile_->opacity * colour.alphaF()));
    }
    const auto image = Symbols::pixmap(symbol_, colour, size_, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - size_) / 2.0, (height() - size_) / 2.0), image);
}

}  // namespace corvalent
