#pragma once

class QWidget;

namespace lumra {

// Raises `window` and asks for keyboard focus. On X11 the request carries `userTime`, the server
// timestamp of the key press or click that asked for the window (0 when unknown), and comes as a
// pager request, so focus-stealing prevention lets a window opened by a global hot key take focus.
// Also keeps the window off the taskbar and pager. Elsewhere it is QWidget::activateWindow().
void activateWithUserTime(QWidget* window, unsigned long userTime);

} // namespace lumra
