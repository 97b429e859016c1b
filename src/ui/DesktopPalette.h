#pragma once

#include "platform/desktop/PortalColorScheme.h"

#include <QPalette>
#include <QProcessEnvironment>

#include <memory>

namespace lumra {

// Whether Lumra should take light or dark from the desktop's portal itself: only where the Qt
// platform theme gives no desktop palette of its own (Plasma's theme reads its colours; a theme
// the user chose through QT_QPA_PLATFORMTHEME is theirs).
bool followsPortalColorScheme(const QProcessEnvironment& environment);

// The application palette for a preference: Lumra's dark palette, or `light` for a light desktop
// and for one that states no preference.
QPalette paletteForScheme(ColorScheme scheme, const QPalette& light);

// Switches the application between Lumra's light and dark palettes as the desktop's preference
// changes; every window follows at once through its palette change.
class DesktopPalette : public QObject {
    Q_OBJECT
public:
    // `light` is the palette the application started with.
    DesktopPalette(QDBusConnection bus, QPalette light, QObject* parent = nullptr);

    // Follows the portal on `bus` from now on (a new connection to it, after the last one ended).
    void listenTo(QDBusConnection bus);
    void apply(ColorScheme scheme);

private:
    std::unique_ptr<PortalColorScheme> m_portal;
    QPalette m_light;
};

} // namespace lumra
