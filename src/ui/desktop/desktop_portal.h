#pragma once

// Where the desktop's portals answer on the session bus.

#include <QString>

namespace corvalent::DesktopPortal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");

}  // namespace corvalent::DesktopPortal
