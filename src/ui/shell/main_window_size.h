#pragma once

// The main window's size on screens of every size and scale: its minimum and
// its first size shrink to what the screen has room for, frame included, so
// the whole window can always be seen, moved and resized.

#include <QSize>

#include "ui/widgets/screen_fit.h"

class QWidget;

namespace corvalent {

struct MainWindowSize {
    QSize minimum;
    QSize initial;

    bool operator==(const MainWindowSize&) const = default;
};

// The window's size where the screen has room for it.
QSize usualMainWindowSize();

// For `room`, the logical size a screen leaves a window's contents (its
// available area less the window's frame); an empty room leaves both sizes
// as they are.
MainWindowSize mainWindowSize(QSize room);

// Gives `window` its sizes for the screen it opens on, corrects them and
// its place once the window manager has framed it, and fits it again
// whenever it moves to another screen or its screen's room changes.
void fitMainWindowToScreen(QWidget& window);

}  // namespace corvalent
