#pragma once

// The program's icon: the gauge symbol in white on the teal tile, drawn
// once at the sizes window lists and task bars ask for.

#include <QIcon>

namespace corvalent {

QIcon appIcon();

}  // namespace corvalent
