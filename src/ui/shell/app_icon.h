#pragma once

// The program's icon: the gauge in white on the teal tile, drawn from the
// one icon drawing (data/icons/corvalent.svg, built in as a resource) at the
// sizes window lists, task bars and trays ask for.

#include <QIcon>

namespace corvalent {

QIcon appIcon();

}  // namespace corvalent
