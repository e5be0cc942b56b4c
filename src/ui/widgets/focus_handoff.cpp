#include "ui/widgets/focus_handoff.h"

#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

namespace corvalent {

bool holdsFocus(const QWidget& area)
{
    const auto* held = area.window()->focusWidget();
    return held != nullptr && (held == &area || area.isAncestorOf(held));
}

void handFocus(QWidget& to)
{
    to.setFocus(Qt::OtherFocusReason);
    // A card or row made just now has no place yet: scroll once it has one.
    QTimer::singleShot(0, &to, [target = QPointer<QWidget>(&to)] {
        if (target.isNull() || target->window()->focusWidget() != target) return;
        for (auto* above = target->parentWidget(); above != nullptr; above = above->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(above);
                area != nullptr && area->widget() != nullptr && area->widget()->isAncestorOf(target))
                area->ensureWidgetVisible(target, 0, 10);
    });
}

}  // namespace corvalent
