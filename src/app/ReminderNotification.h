#pragma once

#include "platform/core/Clock.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

class QDBusPendingCallWatcher;

namespace lumra {

// A desktop notification of Lumra's: the copy reminder, for sessions where Lumra cannot place a
// bubble of its own by the tray icon (Wayland), or a plain message (a paste that failed, told
// where the user is looking once the popup has closed). It goes to the notification server
// directly, so that a click on the reminder and its "Do not Disturb" action come back to Lumra
// where the server offers actions; it is closed 10 s after it was shown. Every call is
// asynchronous: a slow server never holds the main thread.
class ReminderNotification : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds autoCloseDelay{10};
    static inline const QString tapAction = QStringLiteral("default");
    static inline const QString doNotDisturbAction = QStringLiteral("do-not-disturb");

    enum class Actions { tapAndSnooze, none };

    ReminderNotification(QDBusConnection bus, Clock& clock, QObject* parent = nullptr,
                         Actions actions = Actions::tapAndSnooze);
    ~ReminderNotification() override;

    // Shows the reminder with `message`, in place of one still shown.
    void show(const QString& message);
    // Closes the one shown, and drops one on its way.
    void close();

signals:
    void tapped();
    void doNotDisturb();
    // No notification server answered: the caller shows `message` another way.
    void unavailable(const QString& message);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    void notify(const QString& message, bool withActions, quint64 request);
    void shown(QDBusPendingCallWatcher* call, const QString& message, quint64 request);
    void closeNotification(uint id);

    QDBusConnection m_bus;
    Clock& m_clock;
    Actions m_actions;
    uint m_id = 0; // the one shown
    // Actions heard before the server's answer named the id: Qt may hand its signal over first.
    QList<std::pair<uint, QString>> m_early;
    quint64 m_request = 0; // so that an answer to an older request is not taken for the newest
    std::unique_ptr<Timer> m_autoClose;
};

} // namespace lumra
