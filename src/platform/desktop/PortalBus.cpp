#include "platform/desktop/PortalBus.h"

#include "platform/process/HelperProcess.h"

#include <QDBusError>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPortalBus, "lumra.portal")

#ifndef LUMRA_BUS_RELAY_BUILT
#define LUMRA_BUS_RELAY_BUILT ""
#endif

namespace lumra {

namespace {

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

QDBusConnection portalBus()
{
    static const QString name = [] {
        QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        if (address.isEmpty() && QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/bus")))
            address = QStringLiteral("unix:runtime=yes");
        if (address.isEmpty())
            return QString(); // no session bus to relay to
        const QString relay = process::HelperProcess::findProgram("lumra-bus-relay", QStringLiteral(LUMRA_BUS_RELAY_BUILT),
                                                                  "the desktop portal (global shortcuts, light or dark) is out of reach");
        if (relay.isEmpty())
            return QString();
        const QDBusConnection bus = QDBusConnection::connectToBus(relayedAddress(address, relay), QStringLiteral("lumra-portal"));
        if (!bus.isConnected()) {
            qCWarning(lcPortalBus).noquote() << "the desktop portal is out of reach:" << bus.lastError().message();
            return QString();
        }
        return QStringLiteral("lumra-portal");
    }();
    return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

} // namespace lumra
