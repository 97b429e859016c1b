#include "platform/wayland/WaylandConnection.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <cerrno>
#include <poll.h>

Q_LOGGING_CATEGORY(lcWayland, "lumra.wayland")

namespace lumra {

namespace {
constexpr int connectTimeoutMs = 2000;
constexpr int maxReadsPerWake = 256; // a megabyte of events; then other work on the thread goes first
}

struct RegistryListener {
    static void global(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version)
    {
        static_cast<WaylandConnection*>(data)->m_globals.insert(QByteArray(interface), {name, version});
    }
    static void globalRemove(void* data, wl_registry*, uint32_t name)
    {
        auto* connection = static_cast<WaylandConnection*>(data);
        for (auto it = connection->m_globals.begin(); it != connection->m_globals.end(); ++it) {
            if (it->name == name) {
                const QByteArray interfaceName = it.key();
                connection->m_globals.erase(it);
                emit connection->globalRemoved(interfaceName);
                return;
            }
        }
    }
    static constexpr wl_registry_listener listener {global, globalRemove};
};

std::unique_ptr<WaylandConnection> WaylandConnection::open(bool quiet)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_SOCKET"))
        return nullptr;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        if (!quiet)
            qCWarning(lcWayland) << "cannot connect to the Wayland display" << qgetenv("WAYLAND_DISPLAY");
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    if (!connection->roundtrip(QDeadlineTimer(connectTimeoutMs))) {
        if (!quiet)
            qCWarning(lcWayland) << "the Wayland compositor did not answer";
        return nullptr;
    }
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display)
    : m_display(display)
{
    m_registry = wl_display_get_registry(display);
    wl_registry_add_listener(m_registry, &RegistryListener::listener, this);
    // A connection made before the application object (a probe at start) is only read on demand.
    if (!QCoreApplication::instance())
        return;
    m_notifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        // A burst (a copy of thousands of types) is read as fast as it comes, not one buffer a
        // turn of the event loop: the compositor drops a client that falls too far behind.
        for (int read = 0; read < maxReadsPerWake && readOnce(0) && !isBroken(); ++read) {
            pollfd descriptor {wl_display_get_fd(m_display), POLLIN, 0};
            if (::poll(&descriptor, 1, 0) <= 0)
                break;
        }
        if (isBroken()) {
            m_notifier->setEnabled(false);
            reportBroken();
        }
    });
}

WaylandConnection::~WaylandConnection()
{
    delete m_notifier;
    wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

quint32 WaylandConnection::globalVersion(const char* interfaceName) const
{
    return m_globals.value(QByteArray(interfaceName)).version;
}

wl_proxy* WaylandConnection::bind(const wl_interface* interface, quint32 maxVersion)
{
    auto it = m_globals.constFind(QByteArray(interface->name));
    if (it == m_globals.constEnd())
        return nullptr;
    const quint32 version = qMin(maxVersion, it->version);
    return static_cast<wl_proxy*>(wl_registry_bind(m_registry, it->name, interface, version));
}

bool WaylandConnection::isBroken() const { return wl_display_get_error(m_display) != 0; }

void WaylandConnection::stopReading()
{
    delete m_notifier;
    m_notifier = nullptr;
}

void WaylandConnection::reportBroken()
{
    if (m_reportedBroken)
        return;
    m_reportedBroken = true;
    const int error = wl_display_get_error(m_display);
    QString reason;
    if (error == EPROTO) {
        const wl_interface* interface = nullptr;
        quint32 id = 0;
        const quint32 code = wl_display_get_protocol_error(m_display, &interface, &id);
        reason = QStringLiteral("the compositor refused a request on %1 (protocol error %2)")
                     .arg(QLatin1String(interface ? interface->name : "?"))
                     .arg(code);
    } else {
        reason = QStringLiteral("the Wayland connection was lost: %1").arg(QString::fromLocal8Bit(strerror(error)));
    }
    if (isSignalConnected(QMetaMethod::fromSignal(&WaylandConnection::broken)))
        emit broken(reason);
    else
        qCWarning(lcWayland).noquote() << reason;
}

void WaylandConnection::flush()
{
    // A full socket buffer (EAGAIN) sends the rest with the next flush.
    wl_display_flush(m_display);
}

bool WaylandConnection::readOnce(int timeoutMs)
{
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
    }
    wl_display_flush(m_display);
    pollfd descriptor {wl_display_get_fd(m_display), POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, timeoutMs);
    if (ready > 0) {
        if (wl_display_read_events(m_display) < 0)
            return false;
    } else {
        wl_display_cancel_read(m_display);
    }
    return wl_display_dispatch_pending(m_display) >= 0;
}

void WaylandConnection::dispatchPending()
{
    if (!isBroken())
        readOnce(0);
}

bool WaylandConnection::waitFor(const std::function<bool()>& done, QDeadlineTimer deadline)
{
    while (!done()) {
        if (isBroken() || deadline.hasExpired())
            return false;
        if (!readOnce(int(qMin<qint64>(deadline.remainingTime(), 100))))
            return false;
    }
    return true;
}

bool WaylandConnection::roundtrip(QDeadlineTimer deadline)
{
    bool answered = false;
    static constexpr wl_callback_listener listener {
        [](void* data, wl_callback* callback, uint32_t) {
            *static_cast<bool*>(data) = true;
            wl_callback_destroy(callback);
        }};
    wl_callback* callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &listener, &answered);
    if (waitFor([&] { return answered; }, deadline))
        return true;
    // The answer may still come; it must not write to this frame then.
    wl_proxy_set_user_data(reinterpret_cast<wl_proxy*>(callback), &m_lateAnswer);
    return false;
}

} // namespace lumra
