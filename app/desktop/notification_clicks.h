// The clicks on the program's desktop notifications, from the session bus: a notification
// sent with an action waits here for its ActionInvoked signal.
#pragma once

#include <QObject>
#include <functional>
#include <map>

class NotificationClicks : public QObject {
    Q_OBJECT
public:
    static NotificationClicks &instance();
    // A click on the notification of this id calls onClick (once).
    void expect(uint id, const std::function<void()> &onClick);

private slots:
    void invoked(uint id, const QString &key);

private:
    std::map<uint, std::function<void()>> waiting_;
    bool listening_ = false;
};
