#include "app/DisplayBackend.h"

#include "platform/wayland/WaylandPasteboard.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcDisplay, "lumra.app.display")

namespace lumra {

SessionDisplay SessionDisplay::fromEnvironment()
{
    SessionDisplay session {qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("WAYLAND_DISPLAY"),
                            qEnvironmentVariable("DISPLAY")};
    session.waylandDataControl = true;
    if (!session.waylandDisplay.isEmpty() && !session.qpaPlatform.startsWith(QLatin1String("xcb"))) {
        session.waylandDataControl = WaylandPasteboard::sessionOffersDataControl();
        if (!session.waylandDataControl && !session.x11Display.isEmpty())
            qCInfo(lcDisplay) << "the Wayland compositor offers no clipboard data control: Lumra runs through XWayland";
    }
    return session;
}

DisplayBackend chooseDisplayBackend(const SessionDisplay& session)
{
    if (session.qpaPlatform.startsWith(QLatin1String("xcb")) || session.waylandDisplay.isEmpty())
        return DisplayBackend::x11;
    if (!session.waylandDataControl && !session.x11Display.isEmpty() && session.qpaPlatform.isEmpty())
        return DisplayBackend::x11;
    return DisplayBackend::wayland;
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
