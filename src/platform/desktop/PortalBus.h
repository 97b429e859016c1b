#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace lumra {

// Lumra keeps every other process out of it from its first line, and the desktop portal tells who
// calls it by looking into the caller's /proc/<pid>/root, which such a process does not allow: the
// portal refuses it. So the portal is spoken to over a connection of its own, carried by a small
// relay program that the portal may look into and that holds nothing else of Lumra's.

// The session bus through the relay; the session bus itself where the relay cannot be started
// (the portal then refuses Lumra, and the log says why). While a relay that ended waits out its
// back-off, a connection that is not connected.
QDBusConnection portalBus();

// `busAddress` reached through `relay`: a D-Bus address that starts the relay to connect for Lumra.
QString relayedAddress(const QString& busAddress, const QString& relay);

// The relay's connection behind portalBus(). A relay that ends (killed, or its bus gone) is reaped
// at once and its connection let go; the next use connects anew, and so does a renewal for those
// listening (renewed()), each no sooner than a back-off that doubles while relays end soon after
// they start.
class PortalConnection final : public QObject {
    Q_OBJECT
public:
    static PortalConnection& instance();
    ~PortalConnection() override;

    QDBusConnection bus();
    // The relay's process serving the connection, 0 when none is known.
    pid_t relay() const { return m_relay; }

signals:
    // A new relay's connection is up after the last one ended: those who listened to the portal
    // listen and ask again on portalBus().
    void renewed();

private:
    PortalConnection();
    bool connectAnew();
    bool renew();
    void relayEnded();
    // No new connection before the back-off, doubled, has passed; a renewal then.
    void holdOff(std::chrono::steady_clock::time_point now);

    QString m_name; // empty: the session bus itself, or nothing to relay to
    bool m_tried = false;
    bool m_direct = false; // the session bus itself: there is nothing to relay to
    pid_t m_relay = 0;
    int m_relayHandle = -1;
    std::unique_ptr<QSocketNotifier> m_relayEnds;
    QTimer* m_renewal = nullptr;
    std::chrono::steady_clock::time_point m_connectedAt {};
    std::chrono::steady_clock::time_point m_notBefore {};
    std::chrono::milliseconds m_backOff {0};
};

} // namespace lumra
