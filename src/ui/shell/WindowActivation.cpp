#include "ui/shell/WindowActivation.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumra {

namespace {

constexpr long sourcePager = 2;
constexpr long netWmStateAdd = 1;

void sendToRoot(Display* display, Window window, Atom type, long l0, long l1, long l2)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}

void setUserTime(Display* display, Window window, unsigned long userTime)
{
    // Qt keeps the time on a helper window named by _NET_WM_USER_TIME_WINDOW; the window manager reads it there.
    Window target = window;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom timeWindow = XInternAtom(display, "_NET_WM_USER_TIME_WINDOW", False);
    if (XGetWindowProperty(display, window, timeWindow, 0, 1, False, XA_WINDOW, &type, &format, &count,
                           &remaining, &data) == Success && data) {
        if (type == XA_WINDOW && format == 32 && count == 1)
            target = *reinterpret_cast<Window*>(data);
        XFree(data);
    }
    const long value = static_cast<long>(userTime);
    XChangeProperty(display, target, XInternAtom(display, "_NET_WM_USER_TIME", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
}

} // namespace

void activateWithUserTime(QWidget* window, unsigned long userTime)
{
    window->raise();
    window->activateWindow();

    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return;
    Display* display = x11->display();
    const Window id = static_cast<Window>(window->winId());
    if (userTime != 0)
        setUserTime(display, id, userTime);
    sendToRoot(display, id, XInternAtom(display, "_NET_WM_STATE", False), netWmStateAdd,
               long(XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False)),
               long(XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False)));
    sendToRoot(display, id, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), sourcePager, long(userTime), 0);
    XFlush(display);
}

} // namespace lumra
