#pragma once

// The few layouts and labels every card builds again and again.

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <span>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

class ElidedLabel;
class SymbolView;

// A row without margins.
QHBoxLayout* rowLayout(int spacing);
// A column on `owner` with the same padding on every side.
QVBoxLayout* columnLayout(QWidget* owner, int padding, int spacing);
// Text that wraps onto as many lines as it needs.
ElidedLabel* wrappedLabel(const QString& text, const QFont& font, Tone tone);
// A symbol before its text, both centred on one line; the text takes the rest.
QHBoxLayout* symbolLine(SymbolView* symbol, ElidedLabel* text, int spacing = 5);
// The height a layout gives `widget` at `width` once shown, within the
// widget's own limits; measured the same while it is hidden.
int shownHeight(const QWidget& widget, int width);
// How many of the parts above a page's main area fold away on a page `room`
// high that would be `full` high with all of them shown: the fewest that
// make it fit, folding in the order of `frees` (the height each one frees);
// all of them when even that is not enough.
int foldedParts(int room, int full, std::span<const int> frees);

}  // namespace corvalent
