#include "app/ReminderNotification.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcReminderNotification, "lumra.app.reminder")

namespace lumra {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
// The calls are asynchronous: a server slow on a busy desktop costs only a later reminder.
constexpr int serverTimeoutMs = 25000;

QDBusMessage call(const QString& method) { return QDBusMessage::createMethodCall(service, path, interface, method); }

} // namespace

ReminderNotification::ReminderNotification(QDBusConnection bus, Clock& clock, QObject* parent, Actions actions)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_clock(clock)
    , m_actions(actions)
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

ReminderNotification::~ReminderNotification() { close(); }

void ReminderNotification::show(const QString& message)
{
    const quint64 request = ++m_request;
    if (!m_bus.isConnected()) {
        emit unavailable(message);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call(QStringLiteral("GetCapabilities")), serverTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, message, request](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        if (request != m_request)
            return;
        const QDBusPendingReply<QStringList> capabilities = *answered;
        if (capabilities.isError()) {
            qCInfo(lcReminderNotification).noquote() << "no notification server:" << capabilities.error().message();
            emit unavailable(message);
            return;
        }
        notify(message, capabilities.value().contains(QLatin1String("actions")), request);
    });
}

void ReminderNotification::notify(const QString& message, bool withActions, quint64 request)
{
    QDBusMessage notify = call(QStringLiteral("Notify"));
    QStringList actions;
    if (withActions && m_actions == Actions::tapAndSnooze)
        actions << tapAction << QStringLiteral("Tap to Browse.") << doNotDisturbAction << QStringLiteral("Do not Disturb");
    notify << QStringLiteral("Lumra") << m_id << QStringLiteral("lumra") << QStringLiteral("Lumra") << message << actions
           << QVariantMap {{QStringLiteral("desktop-entry"), QStringLiteral("lumra")}}
           << int(std::chrono::milliseconds(autoCloseDelay).count());
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify, serverTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, message, request](QDBusPendingCallWatcher* answered) {
        shown(answered, message, request);
    });
}

void ReminderNotification::shown(QDBusPendingCallWatcher* call, const QString& message, quint64 request)
{
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        if (request == m_request) {
            qCInfo(lcReminderNotification).noquote() << "the notification server refused the reminder:" << reply.error().message();
            emit unavailable(message);
        }
        return;
    }
    const uint id = reply.value();
    if (request != m_request) {
        // Closed or replaced while on its way.
        if (id != m_id)
            closeNotification(id);
        return;
    }
    m_id = id;
    // Servers may keep a notification past its timeout (or forever); it goes 10 s after showing.
    m_autoClose = m_clock.start(autoCloseDelay, false, [this] { close(); });
    for (const auto& [earlyId, action] : std::exchange(m_early, {})) {
        if (earlyId == id) {
            actionInvoked(id, action);
            break;
        }
    }
}

void ReminderNotification::close()
{
    ++m_request;
    m_autoClose.reset();
    if (m_id)
        closeNotification(m_id);
    m_id = 0;
}

void ReminderNotification::closeNotification(uint id)
{
    QDBusMessage close = call(QStringLiteral("CloseNotification"));
    close << id;
    m_bus.send(close);
}

void ReminderNotification::actionInvoked(uint id, const QString& action)
{
    if (!m_id && m_early.size() < 16)
        m_early.append({id, action});
    if (!m_id || id != m_id)
        return;
    close();
    if (action == tapAction)
        emit tapped();
    else if (action == doNotDisturbAction)
        emit doNotDisturb();
}

void ReminderNotification::notificationClosed(uint id, uint)
{
    if (!m_id || id != m_id)
        return;
    m_id = 0;
    m_autoClose.reset();
}

} // namespace lumra
