#pragma once

#include <QString>
#include <QStringList>

namespace lumra::KnownApps {

// Desktop-entry ids of the file managers and screenshot tools Lumra treats specially.
inline const QStringList fileManagers {
    "org.gnome.Nautilus", "org.kde.dolphin", "nemo", "thunar", "org.xfce.Thunar", "pcmanfm", "caja",
};
inline const QStringList screenshotTools {
    "org.gnome.Screenshot", "org.kde.spectacle", "org.flameshot.Flameshot", "xfce4-screenshooter",
};

inline bool isFileManager(const QString& bundleId) { return fileManagers.contains(bundleId); }
inline bool isScreenshotTool(const QString& bundleId) { return screenshotTools.contains(bundleId); }

// Applications whose copies are ignored out of the box (bundle id, name).
struct DefaultIgnoredApp {
    const char* bundleId;
    const char* name;
};
inline constexpr DefaultIgnoredApp defaultIgnoredApps[] {
    {"org.keepassxc.KeePassXC", "KeePassXC"},
    {"org.gnome.seahorse.Application", "Passwords and Keys"},
};

} // namespace lumra::KnownApps
