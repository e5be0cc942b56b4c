#pragma once

// The cards' help: one popover floating over the page below the button it
// belongs to. Hovering a button opens its help after a short delay, leaving
// closes it, a click toggles it at once; at most one is open and at most one
// opening waits.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

namespace corvalent {

class ElidedLabel;

namespace overview {

class HelpPopover : public QWidget {
public:
    struct Anchor {
        QWidget* button;
        QString text;
    };
    // `anchor` finds the button and help text for a card's title; null
    // button for none.
    HelpPopover(QWidget& page, std::function<Anchor(const QString&)> anchor);

    const std::optional<QString>& openTitle() const { return open_; }
    QString text() const;

    void entered(const QString& title);
    void left(const QString& title);
    void clicked(const QString& title);
    // Drops the open help and any waiting opening.
    void close();
    // The open card's help changed: show its new text.
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // By value: callers pass the waiting title, which opening clears.
    void openFor(QString title);
    void place(QWidget& button);

    QWidget& page_;
    std::function<Anchor(const QString&)> anchor_;
    ElidedLabel* text_;
    QTimer delay_{this};  // a child, so that tests can see an opening is pending
    QString pending_;
    std::optional<QString> open_;
};

}  // namespace overview
}  // namespace corvalent
