#pragma once

// The application's broadcast notifications: the Refresh command, the
// measurement mode's request to scroll the process list to a group, and a
// stored preference changed by any window.

#include <QObject>
#include <QString>
#include <QVariant>

namespace corvalent {

class AppNotifications : public QObject {
    Q_OBJECT

public:
    static AppNotifications& instance();

signals:
    // "CorvalentRefreshRequested"
    void refreshRequested();
    // "CorvalentPerformanceScroll", with the id of the group to show.
    void performanceScroll(const QString& groupID);
    // A stored preference was written through `storePreference`.
    void preferenceChanged(const QString& key);
};

// Writes a stored preference and tells every view that shows it.
void storePreference(const QString& key, const QVariant& value);

}  // namespace corvalent
