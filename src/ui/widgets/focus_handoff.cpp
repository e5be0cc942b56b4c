#include "ui/widgets/focus_handoff.h"

#include <QEvent>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

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

}  // namespace

bool holdsFocus(const QWidget& area)
{
    const auto* held = area.window()->focusWidget();
    return held != nullptr && (held == &area || area.isAncestorOf(held));
}

void handFocus(QWidget& to)
{
    to.setFocus(Qt::OtherFocusReason);
    bringIntoView(to);
}

void bringIntoView(QWidget& control)
{
    // A card or row made just now has no place yet: scroll once it has one.
    QTimer::singleShot(0, &control, [target = QPointer<QWidget>(&control)] {
        if (target.isNull() || target->window()->focusWidget() != target) return;
        for (auto* above = target->parentWidget(); above != nullptr; above = above->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(above);
                area != nullptr && area->widget() != nullptr && area->widget()->isAncestorOf(target))
                area->ensureWidgetVisible(target, 0, 10);
    });
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
