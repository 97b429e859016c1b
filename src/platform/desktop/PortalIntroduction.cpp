#include "platform/desktop/PortalIntroduction.h"

#include "platform/process/Confinement.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace lumra {

void keepOthersOutOnceThePortalKnowsLumra(QDBusConnection bus, std::chrono::milliseconds patience)
{
    if (!bus.isConnected()) {
        process::keepOtherProcessesOut();
        return;
    }
    // A call every portal version answers, and checks the caller of, like any other.
    QDBusMessage read = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                       QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    read << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, int(patience.count())));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher] {
        process::keepOtherProcessesOut();
        watcher->deleteLater();
    });
}

} // namespace lumra
