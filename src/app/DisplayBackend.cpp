#include "app/DisplayBackend.h"

#include <QtGlobal>

namespace lumra {

SessionDisplay SessionDisplay::fromEnvironment()
{
    return {qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("WAYLAND_DISPLAY"),
            qEnvironmentVariable("DISPLAY")};
}

DisplayBackend chooseDisplayBackend(const SessionDisplay& session)
{
    if (session.qpaPlatform.startsWith(QLatin1String("xcb")))
        return DisplayBackend::x11;
    return session.waylandDisplay.isEmpty() ? DisplayBackend::x11 : DisplayBackend::wayland;
}

QString qpaPlatformFor(const SessionDisplay& session)
{
    if (!session.qpaPlatform.isEmpty())
        return {};
    if (chooseDisplayBackend(session) == DisplayBackend::wayland)
        return session.x11Display.isEmpty() ? QStringLiteral("wayland") : QStringLiteral("wayland;xcb");
    return session.x11Display.isEmpty() ? QString() : QStringLiteral("xcb");
}

} // namespace lumra
