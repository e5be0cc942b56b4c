#include "ui/widgets/checkable_accessible.h"

namespace corvalent {

CheckableAccessible::CheckableAccessible(QAbstractButton* button, QAccessible::Role role)
    : QAccessibleWidget(button, role)
{
}

QString CheckableAccessible::text(QAccessible::Text kind) const
{
    if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) return button().text();
    return QAccessibleWidget::text(kind);
}

QAccessible::State CheckableAccessible::state() const
{
    auto state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = button().isChecked();
    state.pressed = button().isDown();
    return state;
}

QStringList CheckableAccessible::actionNames() const
{
    const auto names = QAccessibleWidget::actionNames();
    return widget()->isEnabled() ? QStringList(toggleAction()) + names : names;
}

void CheckableAccessible::doAction(const QString& action)
{
    if (action != toggleAction() && action != pressAction()) {
        QAccessibleWidget::doAction(action);
        return;
    }
    if (widget()->isEnabled()) button().click();
}

}  // namespace corvalent
