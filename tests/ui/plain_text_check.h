#pragma once

// Whether names from the system are shown as they are: Qt reads a label in
// its automatic format, and every tooltip, as rich text when it looks like
// markup.

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QLabel>
#include <QTextDocument>
#include <QWidget>
#include <gtest/gtest.h>

namespace corvalent {

// The text Qt shows for a tooltip or a label in the automatic format.
inline QString shownText(const QString& text)
{
    if (!Qt::mightBeRichText(text)) return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Every label under `root` (itself included) whose text holds `marker` is
// plain text; every tooltip, accessible name and description that holds it
// shows `name` whole. Returns how many of them hold it, so a caller can tell
// the name was there at all.
inline int expectShownLiterally(QWidget& root, const QString& name, const QString& marker)
{
    auto widgets = root.findChildren<QWidget*>();
    widgets.prepend(&root);
    int found = 0;
    const auto where = [](const QWidget* widget) {
        return std::string(widget->metaObject()->className()) + " " + widget->objectName().toStdString();
    };
    for (auto* widget : widgets) {
        if (auto* label = qobject_cast<QLabel*>(widget); label && label->text().contains(marker)) {
            ++found;
            // Qt's own tooltip window reads its text as any tooltip is read.
            if (label->windowType() == Qt::ToolTip)
                EXPECT_TRUE(shownText(label->text()).contains(name)) << "tooltip: " << label->text().toStdString();
            else
                EXPECT_EQ(label->textFormat(), Qt::PlainText) << where(widget) << ": " << label->text().toStdString();
        }
        if (shownText(widget->toolTip()).contains(marker) || widget->toolTip().contains(marker)) {
            ++found;
            EXPECT_TRUE(shownText(widget->toolTip()).contains(name))
                << where(widget) << " tooltip: " << widget->toolTip().toStdString();
        }
        auto* reader = QAccessible::queryAccessibleInterface(widget);
        if (reader == nullptr) continue;
        for (const auto kind : {QAccessible::Name, QAccessible::Description}) {
            const auto text = reader->text(kind);
            if (!text.contains(marker)) continue;
            ++found;
            EXPECT_TRUE(text.contains(name)) << where(widget) << " reads: " << text.toStdString();
        }
    }
    return found;
}

// Every scroll area under `root` that takes the keyboard focus has a name.
inline void expectNamedScrollAreas(QWidget& root)
{
    for (auto* area : root.findChildren<QAbstractScrollArea*>()) {
        if (!(area->focusPolicy() & Qt::TabFocus)) continue;
        std::string path;
        for (QWidget* at = area; at != nullptr && at != &root; at = at->parentWidget())
            path += std::string(" < ") + at->metaObject()->className() + " " + at->objectName().toStdString();
        EXPECT_FALSE(area->accessibleName().isEmpty()) << path;
    }
}

}  // namespace corvalent
