#include "ui/desktop/session_bus.h"

#include <QByteArray>
#include <QtGlobal>

#include <unistd.h>

namespace corvalent {

void settleSessionBusAddress()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return;
    if (::access("/usr/bin/dbus-launch", X_OK) == 0) return;
    auto folder = qgetenv("XDG_RUNTIME_DIR");
    if (!folder.startsWith('/')) folder = "/run/user/" + QByteArray::number(::getuid());
    // Bytes outside the address's plain set are escaped.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder + "/bus").toPercentEncoding("/*", "~"));
}

}  // namespace corvalent
