#include "ui/widgets/symbols.h"

#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <cmath>

#include "ui/widgets/symbol_drawings.h"

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
        {"arrow.up", "go-up-symbolic"},
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

}  // namespace

QPixmap pixmap(const QString& symbol, const QColor& colour, int pixels, qreal devicePixelRatio)
{
    // Rows and views repaint often: each tinted size is drawn once.
    const auto key =
        QStringLiteral("symbol:%1:%2:%3:%4")
            .arg(symbol, colour.name(QColor::HexArgb), QString::number(pixels), QString::number(devicePixelRatio));
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
