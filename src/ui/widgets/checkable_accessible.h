#pragma once

// A checkable kit button as readers see it: a check box or a radio button
// with its checked state, whose action is a click, the same as a pointer's.
// Qt's own action only flips the state, which a page listening to clicks
// never hears.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>

namespace corvalent {

class CheckableAccessible : public QAccessibleWidget {
public:
    CheckableAccessible(QAbstractButton* button, QAccessible::Role role);

    QString text(QAccessible::Text kind) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& action) override;

private:
    QAbstractButton& button() const { return *static_cast<QAbstractButton*>(widget()); }
};

// Gives every `Button` this interface with `role`; installed on the first
// call. Call it at the top of the constructor, before anything that tells
// readers of a change (setText): Qt keeps the interface it makes then.
template <typename Button, QAccessible::Role role>
void installCheckableAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
            if (auto* button = dynamic_cast<Button*>(object)) return new CheckableAccessible(button, role);
            return nullptr;
        });
        return true;
    }();
    (void)installed;
}

}  // namespace corvalent
