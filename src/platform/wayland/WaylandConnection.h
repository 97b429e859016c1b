#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

struct wl_display;
struct wl_interface;
struct wl_proxy;
struct wl_registry;
class QSocketNotifier;

namespace lumra {

// A Wayland connection of Lumra's own to the compositor of the session, read through a socket
// notifier on the thread that opened it. Kept apart from Qt's so that a layer can wait for one answer with a
// bounded timeout without running Qt's event loop, and so that a protocol error the compositor
// raises against one layer (a refused virtual keyboard) ends that layer's connection, not Qt's.
class WaylandConnection final : public QObject {
    Q_OBJECT
public:
    // nullptr when the session has no Wayland display or it cannot be reached; `quiet` leaves the
    // failure to the caller to report.
    static std::unique_ptr<WaylandConnection> open(bool quiet = false);
    ~WaylandConnection() override;

    wl_display* display() const { return m_display; }

    // The version the compositor offers of a global interface, 0 when it offers none.
    quint32 globalVersion(const char* interfaceName) const;
    // Binds a global at the lower of `maxVersion` and the offered version; nullptr when absent.
    wl_proxy* bind(const wl_interface* interface, quint32 maxVersion);

    // Sends what is queued and hands every event already received to its listeners.
    void dispatchPending();
    // Dispatches events until `done` holds or the deadline passes; false on timeout or a broken
    // connection.
    bool waitFor(const std::function<bool()>& done, QDeadlineTimer deadline);
    // Waits until the compositor has handled every request sent so far.
    bool roundtrip(QDeadlineTimer deadline);
    // Whether the compositor ended the connection or raised a protocol error on it.
    bool isBroken() const;
    void flush();
    // Ends reading on the opening thread, so that the last holder may delete it on any thread.
    void stopReading();

signals:
    // The compositor ended the connection; with a receiver, this replaces the warning in the log.
    void broken(const QString& reason);
    // A global the compositor offered went away (its interface name).
    void globalRemoved(const QByteArray& interfaceName);

private:
    struct Global {
        quint32 name = 0;
        quint32 version = 0;
    };

    explicit WaylandConnection(wl_display* display);
    bool readOnce(int timeoutMs);
    void reportBroken();

    wl_display* m_display;
    wl_registry* m_registry = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QHash<QByteArray, Global> m_globals;
    bool m_reportedBroken = false;
    bool m_lateAnswer = false; // where a sync answered after its wait gave up writes

    friend struct RegistryListener;
};

} // namespace lumra
