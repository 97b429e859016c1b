#include "WindowManager.h"

#include <QStandardPaths>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumra::test {

namespace {

bool hasProperty(Display* display, Window window, Atom property)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, window, property, 0, 4, False, AnyPropertyType, &type, &format, &count,
                                          &remaining, &data) == Success
        && type != None;
    if (data)
        XFree(data);
    return found;
}

// Asks for the frame of a window that is never shown: the answer comes from the window manager's
// main loop, which runs only once its start (managing what is there, dropping the focus) is over.
// Asked again until answered, in case a request came before it listened.
bool answersRequests(Display* display, int timeoutMs)
{
    const Window root = DefaultRootWindow(display);
    const Window probe = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    const bool answered = QTest::qWaitFor([&] {
        if (hasProperty(display, probe, extents))
            return true;
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = probe;
        event.xclient.message_type = request;
        event.xclient.format = 32;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(display);
        return false;
    }, timeoutMs);
    XDestroyWindow(display, probe);
    XFlush(display);
    return answered;
}

} // namespace

bool WindowManager::installed() { return !QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty(); }

bool WindowManager::start()
{
    m_process.start(QStringLiteral("openbox"), {});
    if (!m_process.waitForStarted())
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const bool running = answersRequests(display, 20000);
    XCloseDisplay(display);
    return running;
}

void WindowManager::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace lumra::test
