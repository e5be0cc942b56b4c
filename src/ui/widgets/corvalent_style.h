#pragma once

// The one look every view draws with: colours, the hero gradient, the panel
// fill, the type scale and the keyboard focus ring. Colours that follow
// light and dark are read from the palette at paint time.

#include <QColor>
#include <QFont>
#include <QPalette>

#include <array>
#include <functional>
#include <vector>

class QFocusEvent;
class QPainter;
class QRectF;
class QWidget;

namespace corvalent {

// A colour taken from the palette when painting, so that a switch between
// light and dark needs no rebuild.
using Tone = std::function<QColor(const QPalette&)>;

// The named text styles. Sizes are design points; the weight is the style's
// own unless a caller asks for another.
enum class TextStyle {
    largeTitle,   // 26
    title,        // 22
    title2,       // 17
    title3,       // 15
    headline,     // 13, semibold
    body,         // 13
    callout,      // 12
    subheadline,  // 11
    footnote,     // 10
    caption,      // 10
    caption2,     // 10
    // Roles: what the text is, each at one size wherever it appears.
    pageTitle,      // 28, bold: a page's title
    heroTitle,      // 24, bold: the large title of the stop review and the access window
    sheetTitle,     // 17, semibold: a confirmation sheet's title
    heroFigure,     // 25, semibold: the one large figure of a panel
    figure,         // 20, semibold: a card's headline figure
    tileFigure,     // 18, semibold: a figure among several in a row
    summaryFigure,  // 17, semibold: a figure in a summary footer under a panel
    rowTitle,       // 14, semibold: a list row's title and its figure
    capitals,       // 9, bold: the small capitals over a figure
};

namespace CorvalentStyle {

QColor teal();
QColor cyan();
QColor indigo();
// The system's orange and red, for warning and critical states.
QColor orange();
QColor red();

// The primary text colour of `palette` at the given opacity.
QColor primary(const QPalette& palette, double opacity = 1.0);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor border(const QPalette& palette);      // primary at 0.08
QColor softBorder(const QPalette& palette);  // primary at 0.055
QColor panel(const QPalette& palette);       // the control background
QColor windowBackground(const QPalette& palette);
QColor withAlpha(QColor colour, double alpha);
// `from` at t = 0 to `to` at t = 1, mixed premultiplied so a fade from clear never darkens.
QColor blend(const QColor& from, const QColor& to, double t);

// Teal 0.16 → cyan 0.09 → clear, from the top-left to the bottom-right of `area`.
void paintHeroGradient(QPainter& painter, const QRectF& area);
// A rounded fill with an inside hairline, both following the same radius.
void paintPanel(QPainter& painter, const QRectF& area, double radius, const QColor& fill, const QColor& hairline);
// The standard panel: `panel` at `opacity` with a `softBorder` hairline.
void paintPanel(QPainter& painter, const QRectF& area, double radius, const QPalette& palette, double opacity = 0.74);

// Fonts of the interface family. One design point is one device-independent
// pixel, so text keeps its size against the layout at any screen density.
QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);
// The style's size in the monospaced family, for paths and digits that line up.
QFont monospaced(TextStyle style, QFont::Weight weight = QFont::Normal);
// The small bold capitals over a figure ("MEMORY PRESSURE"), letter-spaced.
QFont capitalsFont(double tracking = 0.55);

// The seven colours of the disk map and its rows.
const std::array<QColor, 7>& diskPalette();

}  // namespace CorvalentStyle

// Tones for the colours views use most.
namespace Tones {

Tone primary(double opacity = 1.0);
Tone secondary();
Tone tertiary();
Tone fixed(QColor colour);
// `ink` made readable against the palette's window background, for text in
// an accent colour such as a warning.
Tone readable(QColor ink, double minimum = 4.5);

}  // namespace Tones

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
