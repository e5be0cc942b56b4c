#include "models/app_notifications.h"

#include <QSettings>

namespace corvalent {

AppNotifications& AppNotifications::instance()
{
    static AppNotifications notifications;
    return notifications;
}

void storePreference(const QString& key, const QVariant& value)
{
    QSettings().setValue(key, value);
    emit AppNotifications::instance().preferenceChanged(key);
}

}  // namespace corvalent
