#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/onboarding/full_disk_access_introduction.h"

namespace corvalent {
namespace {

// Assistive technology meets the overlay as a modal dialog named by the card's title.
class OverlayAccessible : public QAccessibleWidget {
public:
    explicit OverlayAccessible(FullDiskAccessOverlay* overlay) : QAccessibleWidget(overlay, QAccessible::Dialog) {}

    QAccessible::State state() const override
    {
        auto state = QAccessibleWidget::state();
        state.modal = true;
        return state;
    }
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name) return static_cast<FullDiskAccessOverlay*>(widget())->card().title();
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface* overlayAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(FullDiskAccessOverlay::staticMetaObject.className()))
        if (auto* overlay = qobject_cast<FullDiskAccessOverlay*>(object)) return new OverlayAccessible(overlay);
    return nullptr;
}

int alpha(double opacity)
{
    return static_cast<int>(std::lround(opacity * 255));
}

}  // namespace

FullDiskAccessOverlay::FullDiskAccessOverlay(OnboardingEnvironment environment, std::function<void()> onClose,
                                             QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(overlayAccessible);
        return true;
    }();
    (void)installed;

    card_ = new FullDiskAccessIntroduction(std::move(environment), std::move(onClose), this);
    auto* shadow = new QGraphicsDropShadowEffect(card_);
    shadow->setColor(QColor(0, 0, 0, alpha(0.18)));
    shadow->setBlurRadius(30);
    shadow->setOffset(0, 12);
    card_->setGraphicsEffect(shadow);
    placeCard();
    // Modal: focus that wanders elsewhere in the window comes back to the
    // card. A click on the toolbar, which stays usable, keeps its focus; a
    // Tab from there leads back in.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now == nullptr || card_->closed() || !isVisible() || !isEnabled() || now->window() != window()) return;
        if (now == this || isAncestorOf(now)) {
            lastFocus_ = now;
            return;
        }
        if (QGuiApplication::mouseButtons() != Qt::NoButton) return;
        if (!lastFocus_.isNull() && lastFocus_->isVisible() && lastFocus_->isEnabled())
            lastFocus_->setFocus(Qt::OtherFocusReason);
        else
            card_->takeFocus();
    });
}

// Tab and Shift+Tab go round the card's own controls and never leave it.
bool FullDiskAccessOverlay::focusNextPrevChild(bool next)
{
    QList<QWidget*> stops;
    for (auto* widget = card_->nextInFocusChain(); widget != card_; widget = widget->nextInFocusChain())
        if (card_->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(card_) &&
            widget->isEnabled())
            stops << widget;
    if (stops.isEmpty()) return true;
    const auto at = stops.indexOf(QApplication::focusWidget());
    const auto count = stops.size();
    const auto target = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    stops[target]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// Centred in the overlay's own rect, whatever part of the window that is,
// with room for its margin; folded when it would not fit whole.
void FullDiskAccessOverlay::placeCard()
{
    constexpr int margin = 24;
    QRect area(0, 0, card_->width(), card_->fitHeight(height() - 2 * margin));
    area.moveCenter(rect().center());
    // Too little room even so: keep the top of the card in view.
    if (area.top() < 0) area.moveTop(0);
    card_->setGeometry(area);
}

bool FullDiskAccessOverlay::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::Resize:
    case QEvent::Show:
        placeCard();
        if (event->type() == QEvent::Show) card_->takeFocus();
        break;
    default: break;
    }
    return QWidget::event(event);
}

void FullDiskAccessOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, alpha(0.22)));
}

// The scrim swallows the pointer: what lies below must not be used meanwhile.
void FullDiskAccessOverlay::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}
void FullDiskAccessOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}
void FullDiskAccessOverlay::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}
void FullDiskAccessOverlay::wheelEvent(QWheelEvent* event)
{
    event->accept();
}

}  // namespace corvalent
