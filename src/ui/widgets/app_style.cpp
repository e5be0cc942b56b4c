#include "ui/widgets/app_style.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QToolTip>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int checkSize = 12;
constexpr int checkMargin = 10;

QPainterPath toolTipShape(const QRectF& area)
{
    QPainterPath shape;
    shape.addRoundedRect(area, AppStyle::toolTipRadius, AppStyle::toolTipRadius);
    return shape;
}

// A row with a symbol that can be checked: its mark goes at the row's end.
bool checkableWithSymbol(const QStyleOption* option)
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    return item != nullptr && item->menuItemType == QStyleOptionMenuItem::Normal &&
           item->checkType != QStyleOptionMenuItem::NotCheckable && !item->icon.isNull();
}

// A menu bar title the keyboard rests on while no menu is open (after Escape
// closed the menu that Alt and a letter opened): Fusion leaves it undrawn,
// and the bar holds the focus unseen.
bool keyboardTitle(const QStyleOption* option, const QWidget* widget)
{
    const auto state = option->state;
    return widget != nullptr && widget->hasFocus() && (state & QStyle::State_Selected) &&
           !(state & QStyle::State_Sunken);
}

}  // namespace

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    if (element != PE_PanelTipLabel) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The corners outside the shape are masked off; what the mask keeps of
    // them is filled too, so no dark pixels show at the curve.
    const auto& palette = option->palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillRect(option->rect, palette.color(QPalette::ToolTipBase));
    painter->setPen(QPen(CorvalentStyle::softBorder(palette), 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(toolTipShape(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5)));
    painter->restore();
}

void AppStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                           const QWidget* widget) const
{
    if (element == CE_MenuBarItem && keyboardTitle(option, widget)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(FocusRing::colour(option->palette), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 1, -1, -1), 3, 3);
        painter->restore();
        return;
    }
    if (element != CE_MenuItem || !checkableWithSymbol(option)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    auto row = *qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const bool checked = row.checked;
    row.checkType = QStyleOptionMenuItem::NotCheckable;
    row.checked = false;
    QProxyStyle::drawControl(element, &row, painter, widget);
    if (!checked) return;
    const bool selected = (row.state & State_Selected) && (row.state & State_Enabled);
    const auto ink = row.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    const QRect mark(row.rect.right() - checkMargin - checkSize, row.rect.center().y() - checkSize / 2, checkSize,
                     checkSize);
    painter->drawPixmap(visualRect(row.direction, row.rect, mark),
                        Symbols::pixmap(QStringLiteral("checkmark"), ink, checkSize, ratio));
}

QSize AppStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                 const QWidget* widget) const
{
    auto result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_MenuItem && checkableWithSymbol(option)) result.rwidth() += checkSize + checkMargin;
    return result;
}

int AppStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    // A tooltip's label keeps one pixel more than this as its margin.
    if (metric == PM_ToolTipLabelFrameWidth) return toolTipPadding - 1;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int AppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                        QStyleHintReturn* returned) const
{
    if (hint == SH_ToolTip_Mask && option != nullptr) {
        if (auto* mask = qstyleoption_cast<QStyleHintReturnMask*>(returned))
            mask->region = QRegion(toolTipShape(QRectF(option->rect)).toFillPolygon().toPolygon());
        return 1;
    }
    return QProxyStyle::styleHint(hint, option, widget, returned);
}

void installAppStyle()
{
    QApplication::setStyle(new AppStyle);
    QToolTip::setFont(CorvalentStyle::font(TextStyle::caption));
    applyToolTipPalette(QApplication::palette());
}

void applyToolTipPalette(const QPalette& palette)
{
    // Tooltips keep a palette of their own, which an application palette
    // does not reach.
    QToolTip::setPalette(palette);
}

}  // namespace corvalent
