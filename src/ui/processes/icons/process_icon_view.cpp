#include "ui/processes/icons/process_icon_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

#include <cmath>

#include "ui/processes/icons/process_icon_store.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace {

// The desktop's teal (brighter on dark), which the placeholder uses rather
// than the program's own accent so that it reads as "an icon would go here".
QColor systemTeal(const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    return dark ? QColor(64, 200, 224) : QColor(48, 176, 199);
}

// The icon only decorates the group's title beside it: assistive technology
// skips it.
class DecorativeAccessible : public QAccessibleWidget {
public:
    explicit DecorativeAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Graphic) {}
    QAccessible::State state() const override
    {
        auto state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

QAccessibleInterface* decorativeIcons(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<ProcessIconView*>(object)) return new DecorativeAccessible(view);
    return nullptr;
}

}  // namespace

void paintProcessIcon(QPainter& painter, const QRectF& rect, const QImage& icon, const QString& placeholderSymbol,
                      const QPalette& palette)
{
    const double size = std::min(rect.width(), rect.height());
    const QRectF square(rect.center() - QPointF(size / 2, size / 2), QSizeF(size, size));
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (!icon.isNull()) {
        const double inset = size * 0.035;
        QSizeF fitted = icon.size();
        const QRectF area = square.adjusted(inset, inset, -inset, -inset);
        fitted.scale(area.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted), icon);
    } else {
        const QColor teal = systemTeal(palette);
        CorvalentStyle::paintPanel(painter, square, size * 0.22, CorvalentStyle::withAlpha(teal, 0.09),
                                   CorvalentStyle::withAlpha(teal, 0.13));
        const int pixels = std::max(1, static_cast<int>(std::lround(size * 0.46)));
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        painter.drawPixmap(square.center() - QPointF(pixels / 2.0, pixels / 2.0),
                           Symbols::pixmap(placeholderSymbol, teal, pixels, ratio));
    }
    painter.restore();
}

ProcessIconView::ProcessIconView(ProcessIconStore& store, int size, QWidget* parent) : QWidget(parent), store_(store)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(decorativeIcons);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFixedSize(size, size);
    setFocusPolicy(Qt::NoFocus);
    // An icon another view loaded for the same path shows here at once.
    connect(&store_, &ProcessIconStore::iconLoaded, this, [this](const QString& path) {
        if (source_ == path) update();
    });
}

void ProcessIconView::setGroup(const ProcessGroup& group)
{
    const QString symbol = QString::fromStdString(group.symbol);
    const auto source = ProcessIconSource::group(group);
    if (symbol != symbol_) {
        symbol_ = symbol;
        update();
    }
    if (source == source_) return;
    // An old icon never stands for a new path.
    source_ = source;
    icon_ = QImage();
    update();
    load();
}

void ProcessIconView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    load();
}

void ProcessIconView::load()
{
    if (!isVisible() || !source_ || !icon_.isNull() || loading_ == source_ || !store_.cachedImage(source_).isNull())
        return;
    loading_ = source_;
    const QString requested = *source_;
    store_.image(source_, this, [this, requested](const QImage& image) {
        if (loading_ == requested) loading_.reset();
        if (source_ != requested) return;
        icon_ = image;
        update();
    });
}

void ProcessIconView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QImage image = icon_.isNull() ? store_.cachedImage(source_) : icon_;
    paintProcessIcon(painter, QRectF(rect()), image, symbol_, palette());
}

}  // namespace corvalent
