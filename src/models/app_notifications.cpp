#include "models/app_notifications.h"

namespace corvalent {

AppNotifications& AppNotifications::instance()
{
    static AppNotifications notifications;
    return notifications;
}

}  // namespace corvalent
