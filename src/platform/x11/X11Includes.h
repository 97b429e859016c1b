#pragma once

// Xlib defines macros (Status, Bool, None, True, False…) that clash with Lumra and Qt names.
// Include this last, and use the X-prefixed constants below instead of the macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

namespace lumra::x11 {
inline constexpr long XNone = 0L;
inline constexpr int XTrue = 1;
inline constexpr int XFalse = 0;
inline constexpr int XSuccess = 0;
inline constexpr unsigned long XCurrentTime = 0L;
} // namespace lumra::x11

#undef Status
#undef Bool
#undef None
#undef True
#undef False
#undef Success
#undef CurrentTime
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef Expose
#undef Unsorted
#undef GrayScale
#undef CursorShape
#undef Always
