#include "ui/widgets/focus_handoff.h"

#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>

#include <vector>

namespace corvalent {
namespace {

// Hands the focus to a control once it turns on, if nothing else took the
// focus of its window meanwhile; lives as long as the control does.
class HandWhenOn : public QObject {
public:
    HandWhenOn(QWidget& target, QWidget& window) : QObject(&target), window_(&window)
    {
        target.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* target = static_cast<QWidget*>(watched);
        if (event->type() != QEvent::EnabledChange || !target->isEnabled()) return false;
        if (!window_.isNull() && window_->focusWidget() == nullptr) handFocus(*target);
        target->removeEventFilter(this);
        deleteLater();
        return false;
    }

private:
    QPointer<QWidget> window_;
};

// Tab reaches it, and it is shown or about to be: nothing on the way up to
// the window was hidden on purpose (a row made just now shows once its
// layout has run).
bool takesFocus(const QWidget& control, const QWidget& window)
{
    if ((control.focusPolicy() & Qt::TabFocus) == 0) return false;
    for (const auto* above = &control; above != nullptr && above != &window; above = above->parentWidget())
        if (above->isHidden() && above->testAttribute(Qt::WA_WState_ExplicitShowHide)) return false;
    return true;
}

// The scroll areas whose content holds `control`, nearest first.
std::vector<QScrollArea*> areasAround(const QWidget& control)
{
    std::vector<QScrollArea*> areas;
    for (auto* above = control.parentWidget(); above != nullptr; above = above->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(above);
            area != nullptr && area->widget() != nullptr && area->widget()->isAncestorOf(&control))
            areas.push_back(area);
    return areas;
}

// Scrolls a focused control into view, and again each time the layouts
// around it move it (a card made just now gets its place a layout pass or
// more later; cards come, go and grow above it), until it loses the focus or
// the person scrolls one of its areas.
class KeepInView : public QObject {
public:
    explicit KeepInView(QWidget& target) : QObject(&target), target_(&target)
    {
        for (QWidget* above = &target; above != nullptr; above = above->parentWidget()) {
            above->installEventFilter(this);
            watched_.push_back(above);
            if (auto* area = qobject_cast<QScrollArea*>(above))
                for (auto* bar : {area->verticalScrollBar(), area->horizontalScrollBar()})
                    connect(bar, &QAbstractSlider::actionTriggered, this, [this] { end(); });
        }
    }

    void scrollSoon()
    {
        if (pending_ || ended_) return;
        pending_ = true;
        // After the event at hand: a scroll area resizes its scroll range
        // on the same resize of its content.
        QMetaObject::invokeMethod(this, [this] { scroll(); }, Qt::QueuedConnection);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == target_ && event->type() == QEvent::FocusOut) {
            end();
            return false;
        }
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
            event->type() == QEvent::LayoutRequest)
            scrollSoon();
        return false;
    }

private:
    void scroll()
    {
        pending_ = false;
        if (ended_) return;
        if (target_.isNull() || target_->window()->focusWidget() != target_) {
            end();
            return;
        }
        for (auto* area : areasAround(*target_)) area->ensureWidgetVisible(target_, 0, 10);
    }
    void end()
    {
        if (ended_) return;
        ended_ = true;
        for (const auto& widget : watched_)
            if (!widget.isNull()) widget->removeEventFilter(this);
        watched_.clear();
        // Out of the control's children at once: a later call makes a new one.
        setParent(nullptr);
        deleteLater();
    }

    QPointer<QWidget> target_;
    std::vector<QPointer<QWidget>> watched_;
    bool pending_ = false;
    bool ended_ = false;
};

}  // namespace

bool holdsFocus(const QWidget& area)
{
    const auto* held = area.window()->focusWidget();
    return held != nullptr && (held == &area || area.isAncestorOf(held));
}

void handFocus(QWidget& to)
{
    // A row made just now, and a block made with it, show once their layouts
    // have run; until then the window would not keep the focus given to it
    // (as when it comes back from a sheet, it passes it down its chain).
    std::vector<QWidget*> unshown;
    for (auto* above = &to; above != nullptr && !above->isWindow(); above = above->parentWidget())
        if (above->isHidden() && !above->testAttribute(Qt::WA_WState_ExplicitShowHide)) unshown.push_back(above);
    for (auto at = unshown.rbegin(); at != unshown.rend(); ++at) (*at)->show();
    to.setFocus(Qt::OtherFocusReason);
    bringIntoView(to);
}

void bringIntoView(QWidget& control)
{
    // Outside every scroll area there is nothing to scroll, nor to follow.
    if (areasAround(control).empty()) return;
    KeepInView* keeper = nullptr;
    for (auto* child : control.children())
        if ((keeper = dynamic_cast<KeepInView*>(child)) != nullptr) break;
    if (keeper == nullptr) keeper = new KeepInView(control);
    keeper->scrollSoon();
}

QWidget* firstControlIn(QWidget& area)
{
    for (auto* next = area.nextInFocusChain(); next != nullptr && next != &area; next = next->nextInFocusChain())
        if (area.isAncestorOf(next) && next->isEnabled() && takesFocus(*next, *area.window())) return next;
    return nullptr;
}

void FocusHandOn::take(QWidget& entry, std::size_t at)
{
    from_ = at;
    window_ = entry.window();
    window_->focusWidget()->clearFocus();
}

void FocusHandOn::handTo(std::initializer_list<QWidget*> choices)
{
    if (!from_) return;
    if (window_.isNull() || window_->focusWidget() != nullptr) {
        from_.reset();
        return;
    }
    for (auto* choice : choices) {
        if (choice == nullptr || !takesFocus(*choice, *window_)) continue;
        from_.reset();
        if (choice->isEnabled())
            handFocus(*choice);
        else
            new HandWhenOn(*choice, *window_);
        return;
    }
}

}  // namespace corvalent
