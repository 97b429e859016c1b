#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace lumra {

// A screen as placement sees it: its whole area and the part not taken by panels and docks.
struct ScreenArea {
    QRect geometry;
    QRect available;
};

// Where the popup and the reminder open. Pure functions over rectangles in global
// coordinates (y grows downwards), so they can be checked without a display.
namespace PopupPlacement {

inline constexpr int minimumWidth = 280;
inline constexpr int minimumHeight = 300;
inline constexpr int defaultWidth = 320;
inline constexpr int defaultHeight = 460;
inline constexpr QSize maximumSize{1000, 1400};

// The content size from the stored "clipboardWindowWidth"/"clipboardWindowHeight":
// a value under the minimum (or missing, read as 0) gives the default, not the minimum.
QSize contentSize(double storedWidth, double storedHeight);

// The screen holding `point`, else the primary one (index 0 when `primary` is out of range);
// nullopt when there is no screen at all.
std::optional<ScreenArea> screenAt(const QList<ScreenArea>& screens, QPoint point, int primary = 0);

// Moves `frame` into `area`. A frame larger than the area ends flush with its right and top edges,
// so the title and the first rows stay reachable.
QPoint clampInto(const QRect& frame, const QRect& area);

// The frame's top-left corner centred in the available area of the pointer's screen.
QPoint centredOnPointerScreen(QSize frame, QPoint pointer, const QList<ScreenArea>& screens, int primary = 0);

// The hot-key road. `position` is the stored "shortcutWindowPosition": "center", "lastPosition",
// anything else means the pointer. `last` is the stored ("lastWindowX", "lastWindowY"); (0, 0) or
// missing means none. A last position that lies on no screen is not trusted: the popup is
// centred on the pointer's screen instead.
QPoint forHotKey(const QString& position, QSize frame, QPoint pointer, std::optional<QPoint> last,
                 const QList<ScreenArea>& screens, int primary = 0);

// Whether the platform tells Lumra where the pointer is. A Wayland compositor tells a client only
// while the pointer is over one of that client's windows.
bool pointerPositionKnown();

// The stored "shortcutWindowPosition" as it can be honoured: the pointer's place ("mouse", and any
// value not known) becomes "center" when the pointer's position is not known.
QString honouredHotKeyPosition(const QString& position, bool pointerKnown);

// The tray road: next to `anchor` (the tray icon), on the side away from the screen edge the
// tray sits on, inside the available area. An empty anchor (the tray gives no geometry) uses the pointer.
QPoint besideAnchor(const QRect& anchor, QSize frame, QPoint pointer, const QList<ScreenArea>& screens,
                    int primary = 0);

// Where the popup goes and how large it is: `place` gives the origin for a frame size. A screen
// whose available area is shorter or narrower than `frame` (a small netbook, a monitor scaled to
// 200 %) gets a popup that fits it, placed again at that size, rather than one whose footer runs
// off its bottom. The screen is the one under the middle of the placed frame's top edge.
struct Fitted {
    QPoint origin;
    QSize size;
};
Fitted fitOnScreen(QSize frame, const std::function<QPoint(QSize)>& place, const QList<ScreenArea>& screens,
                   int primary = 0);

// The screens of the running application, the primary one first.
QList<ScreenArea> currentScreens();

} // namespace PopupPlacement
} // namespace lumra
