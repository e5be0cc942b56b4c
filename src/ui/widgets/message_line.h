#pragma once

// A short line that says why something the person asked for did not happen,
// shown where they asked: a warning symbol and the sentence, in a warning
// colour that reads on either palette. Hidden while there is nothing to say.

#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace corvalent {

class ElidedLabel;

// Tells readers that `widget` has just come up with something to say, as
// they are told of an alert.
void announce(QWidget& widget);
// Also gives every announcement's words (the widget's accessible name) to
// `watcher`, until it is replaced; returns the one before. Readers hear
// alerts only through the desktop's accessibility bus, which a check may lack.
using AnnouncementWatcher = std::function<void(const QString& said)>;
AnnouncementWatcher watchAnnouncements(AnnouncementWatcher watcher);

class MessageLine : public QWidget {
public:
    // With `shownFor`, a line said goes again after that long.
    explicit MessageLine(QWidget* parent = nullptr, std::optional<std::chrono::milliseconds> shownFor = std::nullopt);

    // Shows `text` and announces it.
    void say(const QString& text);
    void clear();
    QString text() const;

private:
    ElidedLabel* text_;
    QTimer* expiry_ = nullptr;
};

}  // namespace corvalent
