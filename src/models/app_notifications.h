#pragma once

// The application's broadcast notifications: the Refresh command and the
// measurement mode's request to scroll the process list to a group. Stored
// preferences announce their own changes (Preferences).

#include <QObject>
#include <QString>

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
};

}  // namespace corvalent
