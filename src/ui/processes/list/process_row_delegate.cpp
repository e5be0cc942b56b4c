#include "ui/processes/list/process_row_delegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr double rowPadding = 12;
constexpr double radius = 11;
constexpr double glyphWidth = 24;
constexpr double glyphHeight = 34;
constexpr int glyphPoints = 17;
constexpr double iconSize = 40;
constexpr double gap = 12;
constexpr double trailingGap = 10;
constexpr double hoverShift = 2;
constexpr int retryMilliseconds = 3'000;

}  // namespace

QPixmap ProcessRowDelegate::symbol(const QString& name, const QColor& colour, int points, qreal ratio) const
{
    // Rendering a themed icon costs far more than drawing a pixmap: rows
    // repaint on every hover, so each tint is drawn once.
    const auto key = QStringLiteral("%1|%2|%3|%4").arg(name, colour.name(QColor::HexArgb)).arg(points).arg(ratio);
    auto found = symbols_.find(key);
    if (found == symbols_.end()) found = symbols_.insert(key, Symbols::pixmap(name, colour, points, ratio));
    return *found;
}

ProcessRowDelegate::ProcessRowDelegate(ProcessListModel& rows, ProcessIconStore& icons, QAbstractItemView& view,
                                       const FocusRing& ring)
    : QStyledItemDelegate(&view),
      rows_(rows),
      icons_(icons),
      view_(view),
      ring_(ring),
      titleFont_(CorvalentStyle::font(TextStyle::rowTitle)),
      captionFont_(CorvalentStyle::font(TextStyle::caption)),
      memoryFont_(CorvalentStyle::font(TextStyle::rowTitle))
{
    // Another view may load an icon this list shows.
    connect(&icons_, &ProcessIconStore::iconLoaded, this, [this] { view_.viewport()->update(); });
    // Forget the looks of groups that left the list, once the list has
    // settled after the change.
    connect(
        &rows_, &QAbstractItemModel::rowsRemoved, this,
        [this] { std::erase_if(shades_, [this](const auto& entry) { return !rows_.rowOf(entry.first); }); },
        Qt::QueuedConnection);
}

QSize ProcessRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const bool first = index.row() == 0;
    const bool last = index.row() == rows_.rowCount() - 1;
    return {0, rowHeight + (first ? topPadding : 0) + (last ? bottomPadding : rowSpacing)};
}

QRectF ProcessRowDelegate::rowRect(const QRect& itemRect, int row) const
{
    const double top = itemRect.top() + (row == 0 ? topPadding : 0);
    return {itemRect.left() + double(sidePadding), top, itemRect.width() - 2.0 * sidePadding, double(rowHeight)};
}

QRectF ProcessRowDelegate::glyphRect(const QRect& itemRect, int row) const
{
    const auto area = rowRect(itemRect, row);
    return {area.left() + rowPadding, area.center().y() - glyphHeight / 2, glyphWidth, glyphHeight};
}

QString ProcessRowDelegate::glyphHelp(int row) const
{
    const auto& shown = rows_.row(row);
    return ProcessTexts::glyphHelp(rows_.glyph(row), shown.titleText(), shown.blockingReason());
}

void ProcessRowDelegate::setHovered(std::optional<std::string> id)
{
    if (id == hovered_) return;
    hovered_ = std::move(id);
    view_.viewport()->update();
}

ProcessRowDelegate::Look ProcessRowDelegate::target(int row, const QPalette& palette) const
{
    const auto& id = rows_.row(row).id;
    const bool hovered = hovered_ == id;
    Look look;
    look.shift = hovered && !AppMotion::reduceMotion() ? hoverShift : 0;
    const auto glyph = rows_.glyph(row);
    if (rows_.isFocused(row)) {
        look.fill = CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.11);
        look.outline = 1;
    } else if (glyph == ProcessTexts::Glyph::checked || glyph == ProcessTexts::Glyph::mixed) {
        look.fill = CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.05);
    } else if (hovered) {
        look.fill = CorvalentStyle::primary(palette, 0.035);
    } else {
        look.fill = QColor(0, 0, 0, 0);
    }
    return look;
}

ProcessRowDelegate::Look ProcessRowDelegate::shade(const std::string& id, const Look& wanted) const
{
    const auto same = [](const Look& a, const Look& b) {
        return a.fill == b.fill && a.outline == b.outline && a.shift == b.shift;
    };
    auto [entry, added] = shades_.try_emplace(id, Shade{wanted, wanted, 1, 0});
    auto& shade = entry->second;
    const auto current = [&shade] {
        const double t = shade.progress;
        return Look{CorvalentStyle::blend(shade.from.fill, shade.to.fill, t),
                    shade.from.outline + (shade.to.outline - shade.from.outline) * t,
                    shade.from.shift + (shade.to.shift - shade.from.shift) * t};
    };
    if (!added && !same(shade.to, wanted)) {
        const bool instant = AppMotion::reduceMotion() || !view_.isVisible();
        shade = Shade{instant ? wanted : current(), wanted, instant ? 1.0 : 0.0, shade.generation + 1};
        if (!instant) {
            const int generation = shade.generation;
            auto* self = const_cast<ProcessRowDelegate*>(this);
            // Hover moves with the hover curve; focus and selection with the quick one.
            const bool hoverOnly = shade.from.outline == wanted.outline && shade.from.shift != wanted.shift;
            AppMotion::animate(self, hoverOnly ? AppMotion::hover() : AppMotion::quick(),
                               [self, id, generation](double t) {
                                   const auto found = self->shades_.find(id);
                                   if (found == self->shades_.end() || found->second.generation != generation) return;
                                   found->second.progress = std::clamp(t, 0.0, 1.0);
                                   self->view_.viewport()->update();
                               });
        }
    }
    return current();
}

void ProcessRowDelegate::requestIcon(const QString& path) const
{
    if (requested_.contains(path)) return;
    const auto failed = failed_.find(path);
    if (failed != failed_.end() && !failed->hasExpired()) return;
    requested_.insert(path);
    auto* self = const_cast<ProcessRowDelegate*>(this);
    icons_.image(path, self, [self, path](const QImage& image) {
        self->requested_.remove(path);
        if (image.isNull()) {
            // Painting asks again, but not on every repaint: a busy store or
            // a file without an icon is tried again a little later.
            self->failed_.insert(path, QDeadlineTimer(retryMilliseconds));
            return;
        }
        self->failed_.remove(path);
        self->view_.viewport()->update();
    });
}

void ProcessRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int row = index.row();
    if (row < 0 || row >= rows_.rowCount()) return;
    const auto& shown = rows_.row(row);
    const auto& palette = option.palette;
    const auto look = shade(shown.id, target(row, palette));

    painter->save();
    if (coveredFoot_ > 0) {
        const auto* viewport = view_.viewport();
        painter->setClipRect(QRect(0, 0, viewport->width(), viewport->height() - coveredFoot_), Qt::IntersectClip);
    }
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const auto area = rowRect(option.rect, row).translated(look.shift, 0);
    if (look.fill.alpha() > 0) {
        QPainterPath shape;
        shape.addRoundedRect(area, radius, radius);
        painter->fillPath(shape, look.fill);
    }
    if (look.outline > 0) {
        painter->setPen(QPen(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.26 * look.outline), 1));
        painter->drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    }
    if (option.state & QStyle::State_HasFocus) ring_.paint(*painter, view_, area, radius);

    const auto glyph = rows_.glyph(row);
    const auto ink = glyph == ProcessTexts::Glyph::locked ? CorvalentStyle::secondary(palette) : CorvalentStyle::teal();
    const QRectF glyphArea(area.left() + rowPadding, area.center().y() - glyphHeight / 2, glyphWidth, glyphHeight);
    const auto ratio = painter->device()->devicePixelRatioF();
    painter->drawPixmap(QPointF(glyphArea.center().x() - glyphPoints / 2.0, glyphArea.center().y() - glyphPoints / 2.0),
                        symbol(ProcessTexts::glyphSymbol(glyph), ink, glyphPoints, ratio));

    const QRectF iconArea(glyphArea.right() + gap, area.center().y() - iconSize / 2, iconSize, iconSize);
    const auto icon = icons_.cachedImage(shown.iconPath);
    if (icon.isNull() && shown.iconPath && !shown.iconPath->isEmpty()) requestIcon(*shown.iconPath);
    paintProcessIcon(*painter, iconArea, icon, QString::fromStdString(shown.symbol), palette);

    paintTexts(*painter,
               QRectF(QPointF(iconArea.right() + gap, area.top()), QPointF(area.right() - rowPadding, area.bottom())),
               row, palette);
    painter->restore();
}

// Title over subtitle and member count on the left; memory over CPU on the right.
void ProcessRowDelegate::paintTexts(QPainter& painter, const QRectF& area, int row, const QPalette& palette) const
{
    const auto& shown = rows_.row(row);
    const auto memoryText = ProcessTexts::memory(shown.memory, shown.incompleteMemory);
    const auto cpuText = ProcessTexts::cpu(shown.cpu);
    const QFontMetricsF title(titleFont_);
    const QFontMetricsF caption(captionFont_);
    const QFontMetricsF memory(memoryFont_);
    const auto primary = CorvalentStyle::primary(palette);
    const auto secondary = CorvalentStyle::secondary(palette);
    const double middle = area.center().y();

    // The figures keep their full width; the texts on the left give way.
    const double figuresWidth = std::max(memory.horizontalAdvance(memoryText), caption.horizontalAdvance(cpuText));
    const double figuresTop = middle - (memory.height() + 4 + caption.height()) / 2;
    painter.setFont(memoryFont_);
    painter.setPen(primary);
    painter.drawText(QRectF(area.right() - figuresWidth, figuresTop, figuresWidth, memory.height()),
                     Qt::AlignRight | Qt::AlignVCenter, memoryText);
    painter.setFont(captionFont_);
    painter.setPen(secondary);
    painter.drawText(
        QRectF(area.right() - figuresWidth, figuresTop + memory.height() + 4, figuresWidth, caption.height()),
        Qt::AlignRight | Qt::AlignVCenter, cpuText);

    const double textWidth = std::max(0.0, area.width() - figuresWidth - trailingGap);
    const double capsuleHeight = caption.height() + 4;
    const double textTop = middle - (title.height() + 4 + capsuleHeight) / 2;
    painter.setFont(titleFont_);
    painter.setPen(primary);
    painter.drawText(QRectF(area.left(), textTop, textWidth, title.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     title.elidedText(shown.titleText(), Qt::ElideRight, textWidth));

    const auto count = QString::number(shown.memberCount);
    const double capsuleWidth = caption.horizontalAdvance(count) + 12;
    const double lineTop = textTop + title.height() + 4;
    const auto subtitle = caption.elidedText(QString::fromStdString(shown.subtitle), Qt::ElideRight,
                                             std::max(0.0, textWidth - capsuleWidth - 5));
    const double subtitleWidth = subtitle.isEmpty() ? 0 : caption.horizontalAdvance(subtitle);
    painter.setFont(captionFont_);
    painter.setPen(secondary);
    painter.drawText(QRectF(area.left(), lineTop, subtitleWidth + 1, capsuleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     subtitle);
    const QRectF capsule(area.left() + subtitleWidth + (subtitle.isEmpty() ? 0 : 5), lineTop, capsuleWidth,
                         capsuleHeight);
    QPainterPath pill;
    pill.addRoundedRect(capsule, capsuleHeight / 2, capsuleHeight / 2);
    painter.fillPath(pill, CorvalentStyle::primary(palette, 0.055));
    painter.drawText(capsule, Qt::AlignCenter, count);
}

bool ProcessRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                     const QModelIndex& index)
{
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const int row = index.row();
    if (mouse->button() != Qt::LeftButton || rows_.glyph(row) == ProcessTexts::Glyph::locked ||
        !glyphRect(option.rect, row).contains(mouse->position()))
        return false;
    if (type == QEvent::MouseButtonRelease) rows_.toggle(row);
    return true;
}

bool ProcessRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                   const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid()) return false;
    if (!glyphRect(option.rect, index.row()).contains(event->pos())) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), literalToolTip(glyphHelp(index.row())), view->viewport(),
                       glyphRect(option.rect, index.row()).toAlignedRect());
    return true;
}

}  // namespace corvalent
