#pragma once

// Every text a person can read or hear from a widget tree, and the other
// platform's names among them, which a Linux desktop never has.

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QRegularExpression>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>

namespace corvalent::testing {

// Labels, buttons, tooltips, window titles, accessible names and
// descriptions, shown or not, and what a reader hears of each widget.
inline QStringList readableTexts(const QWidget& root)
{
    QStringList texts;
    auto add = [&texts](const QWidget& widget) {
        if (const auto* label = qobject_cast<const QLabel*>(&widget)) texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) texts << button->text();
        texts << widget.toolTip() << widget.accessibleName() << widget.accessibleDescription() << widget.windowTitle();
        if (auto* reader = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(&widget)))
            for (const auto kind : {QAccessible::Name, QAccessible::Description, QAccessible::Value})
                texts << reader->text(kind);
    };
    add(root);
    for (const auto* child : root.findChildren<QWidget*>()) add(*child);
    texts.removeAll(QString());
    return texts;
}

inline QStringList otherPlatformNames(const QWidget& root)
{
    static const QRegularExpression names(
        QStringLiteral("\\b(Mac|macOS|Finder|System Settings|Safari|iCloud|APFS|Spotlight|Time Machine|Keychain|"
                       "Mail|Messages|Photos|wired|Full Disk Access|[Pp]urgeable)\\b"));
    QStringList found;
    for (const auto& text : readableTexts(root))
        for (auto match = names.globalMatch(text); match.hasNext();) found << match.next().captured();
    return found;
}

// A widget's tooltip as a person reads it, rich text or plain.
inline QString plainToolTip(const QWidget& widget)
{
    QTextDocument tip;
    if (Qt::mightBeRichText(widget.toolTip()))
        tip.setHtml(widget.toolTip());
    else
        tip.setPlainText(widget.toolTip());
    return tip.toPlainText();
}

}  // namespace corvalent::testing
