#include "platform/desktop/PortalBus.h"

#include "platform/process/HelperProcess.h"

#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPortalBus, "lumra.portal")

#ifndef LUMRA_BUS_RELAY_BUILT
#define LUMRA_BUS_RELAY_BUILT ""
#endif

namespace lumra {

namespace {

constexpr std::chrono::milliseconds firstBackOff {1000};
constexpr std::chrono::milliseconds longestBackOff {5 * 60 * 1000};
constexpr std::chrono::minutes settledAfter {1};

struct RelayChild {
    pid_t pid = 0;
    bool ended = false; // not reaped yet
};

// This process's children that run the relay, known by the name its program gives them.
QList<RelayChild> relayChildren()
{
    QList<RelayChild> found;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QLatin1String("/children")));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& word : children.readAll().split(' ')) {
            const pid_t pid = pid_t(word.trimmed().toInt());
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
                continue;
            // "<pid> (<name>) <state> ...": the name may hold a ")" itself.
            const QByteArray line = stat.readLine();
            const qsizetype open = line.indexOf('(');
            const qsizetype close = line.lastIndexOf(')');
            if (open > 0 && close > open && line.mid(open + 1, close - open - 1) == "lumra-bus-relay")
                found.append({pid, line.mid(close + 2, 1) == "Z"});
        }
    }
    return found;
}

// Relays started since `before` was taken.
QList<RelayChild> newRelays(const QList<RelayChild>& before)
{
    QList<RelayChild> started = relayChildren();
    started.removeIf([&](const RelayChild& child) {
        return std::any_of(before.begin(), before.end(), [&](const RelayChild& old) { return old.pid == child.pid; });
    });
    return started;
}

// D-Bus address values keep these as they are and write every other byte as %hh.
QString escapedValue(const QString& value)
{
    QString out;
    for (const char c : value.toUtf8()) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'
                           || c == '_' || c == '/' || c == '.' || c == '\\' || c == '*';
        out += plain ? QString(QLatin1Char(c)) : QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

QString relayedAddress(const QString& busAddress, const QString& relay)
{
    return QStringLiteral("unixexec:path=%1,argv0=lumra-bus-relay,argv1=%2").arg(escapedValue(relay), escapedValue(busAddress));
}

PortalConnection& PortalConnection::instance()
{
    static PortalConnection* const connection = new PortalConnection; // for the whole run
    return *connection;
}

PortalConnection::PortalConnection() : m_renewal(new QTimer(this))
{
    m_renewal->setSingleShot(true);
    connect(m_renewal, &QTimer::timeout, this, [this] {
        // Only for those listening; anyone else connects anew at the next use.
        if (isSignalConnected(QMetaMethod::fromSignal(&PortalConnection::renewed)) && !QDBusConnection(m_name).isConnected())
            renew();
    });
}

PortalConnection::~PortalConnection()
{
    m_relayEnds.reset();
    if (m_relayHandle >= 0)
        ::close(m_relayHandle);
}

QDBusConnection PortalConnection::bus()
{
    if (!m_tried) {
        m_tried = true;
        m_direct = !connectAnew();
    }
    if (m_direct)
        return QDBusConnection::sessionBus();
    // A relay's end is seen to first (relayEnded), then the back-off waited out.
    if (!QDBusConnection(m_name).isConnected() && m_relay == 0 && std::chrono::steady_clock::now() >= m_notBefore)
        renew();
    return QDBusConnection(m_name);
}

bool PortalConnection::renew()
{
    if (!connectAnew()) {
        holdOff(std::chrono::steady_clock::now());
        return false;
    }
    // After the caller has its connection: a listener asks for it again.
    QMetaObject::invokeMethod(this, &PortalConnection::renewed, Qt::QueuedConnection);
    return true;
}

bool PortalConnection::connectAnew()
{
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty() && QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/bus")))
        address = QStringLiteral("unix:runtime=yes");
    if (address.isEmpty())
        return false; // no session bus to relay to
    const QString relay = process::HelperProcess::findProgram("lumra-bus-relay", QStringLiteral(LUMRA_BUS_RELAY_BUILT),
                                                              "the desktop portal (global shortcuts, light or dark) is out of reach");
    if (relay.isEmpty())
        return false;
    const QList<RelayChild> before = relayChildren();
    m_name = QStringLiteral("lumra-portal");
    const QDBusConnection bus = QDBusConnection::connectToBus(relayedAddress(address, relay), m_name);
    const QList<RelayChild> started = newRelays(before);
    if (!bus.isConnected()) {
        qCWarning(lcPortalBus).noquote() << "the desktop portal is out of reach:" << bus.lastError().message();
        QDBusConnection::disconnectFromBus(m_name);
        for (const RelayChild& child : started)
            if (child.ended)
                ::waitpid(child.pid, nullptr, WNOHANG);
        return false;
    }
    m_connectedAt = std::chrono::steady_clock::now();
    for (const RelayChild& child : started) {
        if (child.ended) {
            ::waitpid(child.pid, nullptr, WNOHANG);
        } else if (m_relay == 0) {
            // Told when it ends, to reap it and let its connection go.
            m_relayHandle = int(::syscall(SYS_pidfd_open, child.pid, 0));
            if (m_relayHandle < 0) {
                qCWarning(lcPortalBus) << "the relay to the desktop portal cannot be watched:" << std::strerror(errno);
                continue;
            }
            m_relay = child.pid;
            m_relayEnds = std::make_unique<QSocketNotifier>(m_relayHandle, QSocketNotifier::Read);
            connect(m_relayEnds.get(), &QSocketNotifier::activated, this, &PortalConnection::relayEnded);
        }
    }
    return true;
}

void PortalConnection::relayEnded()
{
    m_relayEnds.reset();
    ::close(m_relayHandle);
    m_relayHandle = -1;
    int status = 0;
    if (::waitpid(m_relay, &status, WNOHANG) == m_relay)
        qCWarning(lcPortalBus).noquote() << "the relay to the desktop portal ended"
                                         << (WIFSIGNALED(status) ? QStringLiteral("by signal %1").arg(WTERMSIG(status))
                                                                 : QStringLiteral("with status %1").arg(WEXITSTATUS(status)));
    m_relay = 0;
    QDBusConnection::disconnectFromBus(m_name);
    const auto now = std::chrono::steady_clock::now();
    // One that carried for a while ended for a reason of its own time; one that ends soon after
    // it starts would again.
    if (now - m_connectedAt >= settledAfter)
        m_backOff = std::chrono::milliseconds(0);
    holdOff(now);
}

void PortalConnection::holdOff(std::chrono::steady_clock::time_point now)
{
    m_backOff = std::clamp<std::chrono::milliseconds>(2 * m_backOff, firstBackOff, longestBackOff);
    m_notBefore = now + m_backOff;
    m_renewal->start(m_backOff);
}

QDBusConnection portalBus() { return PortalConnection::instance().bus(); }

} // namespace lumra
