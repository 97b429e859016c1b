#include "DesktopTools.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumra::test {

namespace {

// The items of a window's CARDINAL property, empty when it has none.
QList<unsigned long> cardinals(Display* display, Window window, Atom property)
{
    QList<unsigned long> values;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 32, False, XA_CARDINAL, &actualType, &format, &count, &remaining, &data) == Success
        && data && actualType == XA_CARDINAL && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values = QList<unsigned long>(items, items + count);
    }
    if (data)
        XFree(data);
    return values;
}

// A window may go away while it is looked at; Xlib's own handler would end the test.
int ignoreError(Display*, XErrorEvent*) { return 0; }

} // namespace

bool popupShownBy(qint64 pid)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const auto previousHandler = XSetErrorHandler(ignoreError);
    const Atom wmPid = XInternAtom(display, "_NET_WM_PID", False);
    // Menus are override-redirect windows: children of the root that the window manager leaves alone.
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool shown = false;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !shown; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable
                || !attributes.override_redirect)
                continue;
            shown = cardinals(display, children[i], wmPid).contains(static_cast<unsigned long>(pid));
        }
    }
    if (children)
        XFree(children);
    XCloseDisplay(display);
    XSetErrorHandler(previousHandler);
    return shown;
}

} // namespace lumra::test
