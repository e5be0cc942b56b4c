#include "ui/widgets/scroll_focus.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"
#include "ui/widgets/focus_handoff.h"

namespace corvalent {
namespace {

constexpr double ringRadius = 8;

// Lies over the whole area, above its viewport and bar, and draws the ring
// while it shows; clicks go through to what lies below.
class AreaRing : public QWidget {
public:
    AreaRing(QAbstractScrollArea& area, double radius) : QWidget(&area), area_(area), radius_(radius)
    {
        setObjectName("scrollAreaRing");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        area.installEventFilter(this);
        setGeometry(area.rect());
        hide();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &area_) return false;
        switch (event->type()) {
        case QEvent::FocusIn:
            ring_.focusIn(*static_cast<QFocusEvent*>(event));
            setVisible(ring_.shown(area_));
            raise();
            break;
        case QEvent::FocusOut:
            ring_.focusOut();
            hide();
            break;
        case QEvent::KeyPress:
            if (!isVisible() && ring_.shown(area_)) {
                show();
                raise();
            }
            break;
        case QEvent::Resize: setGeometry(area_.rect()); break;
        default: break;
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        ring_.paint(painter, area_, QRectF(rect()), radius_);
    }

private:
    QAbstractScrollArea& area_;
    double radius_;
    FocusRing ring_;
};

// Nothing to scroll, nothing to stop at: Tab goes straight to the controls
// inside, or past the area.
void followRange(QScrollArea& area)
{
    const auto* bar = area.verticalScrollBar();
    const auto policy = bar->maximum() > bar->minimum() ? Qt::StrongFocus : Qt::NoFocus;
    if (area.focusPolicy() != policy) area.setFocusPolicy(policy);
}

}  // namespace

void followKeyboard(QScrollArea& area)
{
    auto* ring = new AreaRing(area, ringRadius);
    QObject::connect(area.verticalScrollBar(), &QScrollBar::rangeChanged, ring, [&area] { followRange(area); });
    followRange(area);
    // A click puts the focus where the pointer is, already in view.
    QObject::connect(qApp, &QApplication::focusChanged, ring, [&area](QWidget*, QWidget* now) {
        if (now == nullptr || QApplication::mouseButtons() != Qt::NoButton) return;
        if (area.widget() != nullptr && area.widget()->isAncestorOf(now)) bringIntoView(*now);
    });
}

void showFocusRing(QAbstractScrollArea& area, double radius)
{
    new AreaRing(area, radius);
}

}  // namespace corvalent
