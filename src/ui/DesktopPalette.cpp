#include "ui/DesktopPalette.h"

#include "ui/Palettes.h"

#include <QApplication>

namespace lumra {

bool followsPortalColorScheme(const QProcessEnvironment& environment)
{
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORMTHEME")).isEmpty())
        return false;
    const QStringList desktops = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const bool plasma = std::any_of(desktops.begin(), desktops.end(), [](const QString& d) { return d.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0; })
        || environment.value(QStringLiteral("KDE_FULL_SESSION")) == QLatin1String("true");
    return !plasma;
}

QPalette paletteForScheme(ColorScheme scheme, const QPalette& light)
{
    return scheme == ColorScheme::dark ? Palettes::dark() : light;
}

DesktopPalette::DesktopPalette(QDBusConnection bus, QPalette light, QObject* parent)
    : QObject(parent), m_light(std::move(light))
{
    listenTo(std::move(bus));
}

void DesktopPalette::listenTo(QDBusConnection bus)
{
    m_portal = std::make_unique<PortalColorScheme>(std::move(bus));
    connect(m_portal.get(), &PortalColorScheme::schemeChanged, this, &DesktopPalette::apply);
}

void DesktopPalette::apply(ColorScheme scheme)
{
    QApplication::setPalette(paletteForScheme(scheme, m_light));
}

} // namespace lumra
