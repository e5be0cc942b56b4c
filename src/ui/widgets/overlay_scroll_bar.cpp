#include "ui/widgets/overlay_scroll_bar.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/scroll_focus.h"

namespace corvalent {
namespace {

constexpr int barWidth = 11;
constexpr double inset = 2;
constexpr double minimumThumb = 28;

}  // namespace

OverlayScrollBar::OverlayScrollBar(QAbstractScrollArea& area)
    : QWidget(&area), bar_(area.verticalScrollBar()), viewport_(area.viewport())
{
    setObjectName("overlayScrollBar");
    setAccessibleName("Scroll");
    setAttribute(Qt::WA_Hover);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The viewport is laid out after the area has seen its own resize.
    viewport_->installEventFilter(this);
    connect(bar_, &QScrollBar::rangeChanged, this, [this] { sync(); });
    connect(bar_, &QScrollBar::valueChanged, this, [this] { update(); });
    place();
    sync();
}

QRectF OverlayScrollBar::track() const
{
    return QRectF(rect()).adjusted(inset, inset, -inset, -inset);
}

QRectF OverlayScrollBar::thumb() const
{
    const int range = bar_->maximum() - bar_->minimum();
    if (range <= 0) return {};
    const auto area = track();
    const double share = double(bar_->pageStep()) / (range + bar_->pageStep());
    const double length = std::clamp(area.height() * share, std::min(minimumThumb, area.height()), area.height());
    const double progress = double(bar_->value() - bar_->minimum()) / range;
    const double top = area.top() + (area.height() - length) * progress;
    // Thin at rest, wider under the pointer or while dragged.
    const double width = hovering_ || grab_ ? area.width() : area.width() * 0.6;
    return {area.right() - width, top, width, length};
}

void OverlayScrollBar::place()
{
    const auto viewport = viewport_->geometry();
    setGeometry(viewport.right() + 1 - barWidth, viewport.top(), barWidth,
                std::max(0, viewport.height() - bottomInset_));
    raise();
}

void OverlayScrollBar::setBottomInset(int inset)
{
    bottomInset_ = inset;
    place();
}

void OverlayScrollBar::sync()
{
    setVisible(bar_->maximum() > bar_->minimum());
    update();
}

bool OverlayScrollBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) place();
    return QWidget::eventFilter(watched, event);
}

void OverlayScrollBar::paintEvent(QPaintEvent*)
{
    const auto shape = thumb();
    if (shape.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(shape, shape.width() / 2, shape.width() / 2);
    painter.fillPath(path, CorvalentStyle::primary(palette(), hovering_ || grab_ ? 0.45 : 0.28));
}

void OverlayScrollBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    const auto shape = thumb();
    const double y = event->position().y();
    if (y < shape.top()) {
        bar_->triggerAction(QAbstractSlider::SliderPageStepSub);
    } else if (y > shape.bottom()) {
        bar_->triggerAction(QAbstractSlider::SliderPageStepAdd);
    } else {
        grab_ = y - shape.top();
        update();
    }
}

void OverlayScrollBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!grab_) return;
    const auto area = track();
    const double travel = area.height() - thumb().height();
    if (travel <= 0) return;
    const double progress = std::clamp((event->position().y() - *grab_ - area.top()) / travel, 0.0, 1.0);
    // A move by the person, as the bar's own drag reports it: a control kept in view lets go.
    bar_->setSliderPosition(bar_->minimum() +
                            static_cast<int>(std::lround(progress * (bar_->maximum() - bar_->minimum()))));
}

void OverlayScrollBar::mouseReleaseEvent(QMouseEvent*)
{
    grab_.reset();
    update();
}

void OverlayScrollBar::wheelEvent(QWheelEvent* event)
{
    // The area's bar scrolls exactly as the content under the pointer would.
    QCoreApplication::sendEvent(bar_, event);
}

void OverlayScrollBar::enterEvent(QEnterEvent* event)
{
    hovering_ = true;
    update();
    QWidget::enterEvent(event);
}

void OverlayScrollBar::leaveEvent(QEvent* event)
{
    hovering_ = false;
    update();
    QWidget::leaveEvent(event);
}

namespace {

class SheetScrollArea : public QScrollArea {
public:
    SheetScrollArea(int width, int tallest) : width_(width), tallest_(tallest) {}

    QSize sizeHint() const override
    {
        const auto* content = widget();
        if (content == nullptr) return {width_, 0};
        const int whole = content->hasHeightForWidth() ? content->heightForWidth(width_) : content->sizeHint().height();
        return {width_, std::min(whole, tallest_)};
    }
    QSize minimumSizeHint() const override { return {width_, std::min(sizeHint().height(), shortest)}; }

protected:
    // The content's layout changed: so did the height this area asks for.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }

private:
    static constexpr int shortest = 48;
    int width_;
    int tallest_;
};

QScrollArea* transparent(QScrollArea* area, QWidget* content)
{
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(content);
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    new OverlayScrollBar(*area);
    followKeyboard(*area);
    return area;
}

}  // namespace

QScrollArea* transparentScrollArea(QWidget* content, QWidget* parent)
{
    return transparent(new QScrollArea(parent), content);
}

QScrollArea* sheetScrollArea(QWidget* content, int width, int tallest)
{
    auto* area = transparent(new SheetScrollArea(width, tallest), content);
    area->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    return area;
}

}  // namespace corvalent
