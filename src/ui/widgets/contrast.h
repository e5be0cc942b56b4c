#pragma once

// Text that must stay readable on both palettes: the contrast ratio of two
// colours as accessibility guidelines measure it, and an accent's shade that
// reaches a wanted ratio against a background (Tones::readable gives it
// against the window's).

#include <QColor>

namespace corvalent {

namespace Contrast {

// Relative luminance of an opaque sRGB colour: 0 black … 1 white.
double luminance(const QColor& colour);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ratio(const QColor& first, const QColor& second);
// `ink` in the same hue, darkened on a light background or lightened on a
// dark one just enough to reach `minimum`; `ink` itself when it already does.
QColor readable(const QColor& ink, const QColor& background, double minimum = 4.5);

}  // namespace Contrast

}  // namespace corvalent
