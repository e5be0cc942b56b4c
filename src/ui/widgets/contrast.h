#pragma once

// Text that must stay readable on both palettes: the contrast ratio of two
// colours as accessibility guidelines measure it, and the shade or opacity
// of an ink that reaches a wanted ratio against its backgrounds.

#include <QColor>

#include <vector>

namespace corvalent {

namespace Contrast {

// Relative luminance of an opaque sRGB colour: 0 black … 1 white.
double luminance(const QColor& colour);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ratio(const QColor& first, const QColor& second);
// `ink` in the same hue, darkened on a light background or lightened on a
// dark one just enough to reach `minimum`; `ink` itself when it already does.
QColor readable(const QColor& ink, const QColor& background, double minimum = 4.5);
// The same against every one of `backgrounds`, which all lie on one side
// (all light or all dark).
QColor readableOnAll(const QColor& ink, const std::vector<QColor>& backgrounds, double minimum = 4.5);
// The least opacity, from `least` up in steps of 0.01, at which opaque `ink`
// laid over each of the opaque `backgrounds` reaches `minimum` against it.
double opacityReaching(const QColor& ink, const std::vector<QColor>& backgrounds, double minimum, double least = 0);
// `ink` at `opacity` over the opaque `background`, as it is seen.
QColor over(const QColor& background, const QColor& ink, double opacity);

}  // namespace Contrast

}  // namespace corvalent
