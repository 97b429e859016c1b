#pragma once

#include "platform/workspace/Workspace.h"

#include <QPoint>
#include <QSize>

#include <functional>
#include <optional>

namespace lumra {

class ClipboardManager;
class HotKeyManager;
class PopupPanel;
class UserDefaults;

// What the tray road and the hot-key road share when they open the popup.
namespace PopupRoads {

// The application in front, unless it is Lumra itself.
std::optional<AppIdentity> frontmostOtherApp(Workspace* workspace);

// A new panel with the popup list inside: its size from "clipboardWindowWidth"/"clipboardWindowHeight"
// (saved again when the user resizes it), the keep-open and window-button settings applied and
// followed while it is open. When it closes, the list leaves the recycle bin, `previousApp` gets the focus back
// if the panel still had it (a panel closed because the user went to another application leaves that
// one in front), then `onClose` runs.
PopupPanel* makePanel(ClipboardManager& manager, HotKeyManager* hotKeys, std::optional<AppIdentity> previousApp,
                      std::function<void()> onClose);

// Makes the panel fit the screen that `place` (an origin for a frame size) puts it on, and returns
// its origin there. The stored size is left as it is for a larger screen.
QPoint fitToScreen(PopupPanel& panel, const std::function<QPoint(QSize)>& place);

// The stored ("lastWindowX", "lastWindowY"); nullopt when missing.
std::optional<QPoint> lastPosition(const UserDefaults& defaults);
void saveLastPosition(UserDefaults& defaults, QPoint position);

} // namespace PopupRoads
} // namespace lumra
