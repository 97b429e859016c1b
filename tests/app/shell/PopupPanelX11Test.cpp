#include "ui/shell/PopupPanel.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPointer>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace lumra {
namespace {

// Watches the root window from a connection of its own, as a window manager would.
class RootWatcher {
public:
    RootWatcher()
        : m_display(XOpenDisplay(nullptr))
    {
        if (m_display) {
            XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
            XSync(m_display, False);
        }
    }
    ~RootWatcher()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Display* display() const { return m_display; }

    std::vector<XClientMessageEvent> clientMessages(const char* type)
    {
        std::vector<XClientMessageEvent> found;
        XSync(m_display, False);
        const Atom wanted = XInternAtom(m_display, type, False);
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == wanted)
                found.push_back(event.xclient);
        }
        return found;
    }

    long cardinal(Window window, const char* property)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        long value = -1;
        if (XGetWindowProperty(m_display, window, XInternAtom(m_display, property, False), 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &remaining, &data) == Success && data) {
            if (format == 32 && count == 1)
                value = *reinterpret_cast<long*>(data);
            XFree(data);
        }
        return value;
    }

private:
    Display* m_display;
};

Display* qtDisplay()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

TEST(PopupPanelX11Test, PresentingAsksTheWindowManagerForFocusWithTheKeyPressTime)
{
    ASSERT_NE(qtDisplay(), nullptr) << "needs the xcb platform";
    RootWatcher root;
    ASSERT_NE(root.display(), nullptr);

    QPointer<PopupPanel> panel = new PopupPanel(QSize(320, 460));
    const unsigned long keyPressTime = 123456;
    panel->present(QPoint(100, 100), keyPressTime);
    XSync(qtDisplay(), False);

    const Window id = static_cast<Window>(panel->winId());
    bool pagerRequest = false;
    for (const XClientMessageEvent& message : root.clientMessages("_NET_ACTIVE_WINDOW")) {
        if (message.window == id && message.data.l[0] == 2 && message.data.l[1] == long(keyPressTime))
            pagerRequest = true;
    }
    EXPECT_TRUE(pagerRequest);

    Window timeWindow = id;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(root.display(), id, XInternAtom(root.display(), "_NET_WM_USER_TIME_WINDOW", False), 0, 1,
                           False, XA_WINDOW, &type, &format, &count, &remaining, &data) == Success && data) {
        if (count == 1)
            timeWindow = *reinterpret_cast<Window*>(data);
        XFree(data);
    }
    EXPECT_EQ(root.cardinal(timeWindow, "_NET_WM_USER_TIME"), long(keyPressTime));
    delete panel.data();
}

TEST(PopupPanelX11Test, ThePanelAsksToStayOffTheTaskbar)
{
    ASSERT_NE(qtDisplay(), nullptr) << "needs the xcb platform";
    RootWatcher root;
    QPointer<PopupPanel> panel = new PopupPanel(QSize(320, 460));
    panel->present(QPoint(0, 0), 0);
    XSync(qtDisplay(), False);

    const Atom skipTaskbar = XInternAtom(root.display(), "_NET_WM_STATE_SKIP_TASKBAR", False);
    bool asked = false;
    for (const XClientMessageEvent& message : root.clientMessages("_NET_WM_STATE")) {
        if (message.window == static_cast<Window>(panel->winId()) && message.data.l[0] == 1
            && Atom(message.data.l[1]) == skipTaskbar)
            asked = true;
    }
    EXPECT_TRUE(asked);
    delete panel.data();
}

} // namespace
} // namespace lumra
