#include "ui/widgets/scroll_focus.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_handoff.h"

namespace corvalent {
namespace {

constexpr double ringRadius = 8;

// Lies over the whole area, above its viewport and bar, and draws the ring
// while it shows; clicks go through to what lies below.
class AreaRing : public QWidget {
public:
    explicit AreaRing(QScrollArea& area) : QWidget(&area), area_(area)
    {
        setObjectName("scrollAreaRing");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        area.installEventFilter(this);
        setGeometry(area.rect());
        hide();
        connect(area.verticalScrollBar(), &QScrollBar::rangeChanged, this,
                [this](int least, int most) { followRange(most > least); });
        followRange(area.verticalScrollBar()->maximum() > area.verticalScrollBar()->minimum());
        // A click puts the focus where the pointer is, already in view.
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now == nullptr || QApplication::mouseButtons() != Qt::NoButton) return;
            if (area_.widget() != nullptr && area_.widget()->isAncestorOf(now)) bringIntoView(*now);
        });
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
        case QEvent::Resize: setGeometry(area_.rect()); break;
        default: break;
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        ring_.paint(painter, area_, QRectF(rect()), ringRadius);
    }

private:
    // Nothing to scroll, nothing to stop at: Tab goes straight to the
    // controls inside, or past the area.
    void followRange(bool scrolls)
    {
        const auto policy = scrolls ? Qt::StrongFocus : Qt::NoFocus;
        if (area_.focusPolicy() != policy) area_.setFocusPolicy(policy);
    }
    QScrollArea& area_;
    FocusRing ring_;
};

}  // namespace

void followKeyboard(QScrollArea& area)
{
    new AreaRing(area);
}

}  // namespace corvalent
