#pragma once

#include <QString>

namespace lumra {

// Which desktop backends Lumra runs on: the clipboard, keys and workspace of X11 or of Wayland.
enum class DisplayBackend { x11, wayland };

// What the session's environment says about its display.
struct SessionDisplay {
    QString qpaPlatform;    // QT_QPA_PLATFORM
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString x11Display;     // DISPLAY
    bool waylandDataControl = true; // the compositor lets Lumra watch and write the clipboard

    // The environment, and for a Wayland session what its compositor offers.
    static SessionDisplay fromEnvironment();
};

// A Wayland session uses the Wayland backends; QT_QPA_PLATFORM=xcb, or a session without a
// Wayland display, keeps X11. So does a Wayland session whose compositor offers no clipboard
// data control (GNOME) while XWayland runs: through X11 Lumra still sees what the compositor
// passes between Wayland and X11 applications.
DisplayBackend chooseDisplayBackend(const SessionDisplay& session);

// The QT_QPA_PLATFORM Lumra sets for itself, empty to leave Qt's choice alone: an explicit choice
// always stands; under Wayland, Wayland with XWayland to fall back on; under X11, xcb.
QString qpaPlatformFor(const SessionDisplay& session);

} // namespace lumra
