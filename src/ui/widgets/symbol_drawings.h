#pragma once

// Drawings of our own for the symbols the desktop's icon theme has nothing
// close to.

#include <QPainterPath>
#include <QString>

#include <optional>

namespace corvalent {

namespace Symbols {

// A drawing on a 16-unit grid: stroked lines, or a filled shape whose inner
// parts are cut out.
struct Drawing {
    QPainterPath path;
    bool filled = false;
};

// Our drawing of `symbol`, or none where the icon theme shows it.
std::optional<Drawing> drawnSymbol(const QString& symbol);

}  // namespace Symbols

}  // namespace corvalent
