#pragma once

// The keyboard focus ring every control of the kit draws, in the accent
// shaded to stand out from the surfaces a control sits on.

#include <QColor>
#include <QPalette>

#include <vector>

class QFocusEvent;
class QPainter;
class QRectF;
class QWidget;

namespace corvalent {

// The ring a control shows while the keyboard, not the pointer, gave it
// focus: focus that arrives while the last input was a key, by Tab or a
// shortcut, or as the first focus of a window a key brought up (a sheet
// opened by Space on a button), or handed on by the program in answer to a
// key. Focus that follows a click, or is passed on because a clicked control
// was hidden, shows no ring, until the control takes a key. A menu that a
// key opened over a ringed control and a key closed gives the focus back
// ringed.
class FocusRing {
public:
    FocusRing();
    void focusIn(const QFocusEvent& event);
    void focusOut();
    bool shown(const QWidget& widget) const;
    // Drawn inside `area`, two pixels wide, in `colour`.
    void paint(QPainter& painter, const QWidget& widget, const QRectF& area, double radius) const;
    // On a control filled with `fill`, where the accent would not show: two
    // bands inside `area`, the outer against the window around the control,
    // the inner against the fill.
    void paintOnFill(QPainter& painter, const QWidget& widget, const QRectF& area, double radius,
                     const QColor& fill) const;

    struct Bands {
        QColor outer;
        QColor inner;
    };
    // The bands' colours: each at least 3:1 against what it borders, the
    // window background of `palette` and `fill`.
    static Bands bandsOnFill(const QPalette& palette, const QColor& fill);
    // The accent, shaded to stand out at least 3:1 from every surface of
    // `palette` a control sits on and from the faint fills inside controls.
    static QColor colour(const QPalette& palette);
    // What a ring borders, outside or inside: the palette's window and
    // control backgrounds, each also under the hero wash at its strongest,
    // and each of those under the faint fills the kit lays inside a control
    // or row (the text colour up to 0.08, the accent up to 0.16). A control
    // filled more strongly takes paintOnFill.
    static std::vector<QColor> surfaces(const QPalette& palette);

private:
    bool keyLed() const;

    bool keyboard_ = false;
    bool held_ = false;
    bool keptForMenu_ = false;
};

}  // namespace corvalent
