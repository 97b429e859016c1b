#include "platform/x11/X11Connection.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/core/Allocator.h"
#include "platform/core/Clock.h"

#include <poll.h>
#include <cstdlib>

// Before X11Includes.h, which takes back the Xlib macros this header uses.
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XRes.h>

#include "platform/x11/X11Includes.h"

Q_LOGGING_CATEGORY(lcX11, "lumra.x11")

namespace lumra {

using namespace x11;

namespace {

// Xlib's error handler is process-wide: errors on our connections are recorded, others go to
// whatever handler was installed before ours.
struct Errors {
    int first = 0;
    std::vector<X11Connection::Error> all;
};

struct ErrorRegistry {
    QMutex mutex;
    QHash<Display*, Errors> errors;
    XErrorHandler previous = nullptr;
    bool installed = false;
};

ErrorRegistry& registry()
{
    static ErrorRegistry instance;
    return instance;
}

int handleError(Display* display, XErrorEvent* event)
{
    ErrorRegistry& errors = registry();
    XErrorHandler previous = nullptr;
    {
        QMutexLocker lock(&errors.mutex);
        auto it = errors.errors.find(display);
        if (it != errors.errors.end()) {
            if (it->first == 0)
                it->first = event->error_code;
            if (it->all.size() >= size_t(X11Connection::maxKeptErrors))
                it->all.erase(it->all.begin());
            it->all.push_back({event->serial, event->error_code});
            return 0;
        }
        previous = errors.previous;
    }
    return previous ? previous(display, event) : 0;
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open(Watch watch)
{
    auto* x11App = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11App || !x11App->display())
        return nullptr;
    Display* display = XOpenDisplay(XDisplayString(x11App->display()));
    if (!display) {
        qCWarning(lcX11) << "cannot open a connection to the X display";
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display, watch));
}

std::optional<qint64> X11Connection::qtLargestRequestBytes()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    auto* x11App = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11App ? x11App->display() : nullptr;
    if (!display)
        return 65535 * 4; // the core protocol's limit, which holds without BIG-REQUESTS
    long words = XExtendedMaxRequestSize(display);
    if (words <= 0)
        words = XMaxRequestSize(display);
    return qint64(words) * 4;
}

X11Connection::X11Connection(Display* display, Watch watch)
    : m_display(display)
{
    {
        ErrorRegistry& errors = registry();
        QMutexLocker lock(&errors.mutex);
        errors.errors.insert(display, Errors {});
        if (!errors.installed) {
            errors.previous = XSetErrorHandler(handleError);
            errors.installed = true;
        }
    }
    if (watch == Watch::unwatched)
        return;
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11Connection::dispatchPending);
}

X11Connection::~X11Connection()
{
    m_burstEnd.reset();
    delete m_notifier;
    XCloseDisplay(m_display);
    ErrorRegistry& errors = registry();
    QMutexLocker lock(&errors.mutex);
    errors.errors.remove(m_display);
}

unsigned long X11Connection::rootWindow() const { return DefaultRootWindow(m_display); }

void X11Connection::dispatchPending()
{
    m_dispatchQueued = false;
    // A bounded batch, so that a client flooding us with requests cannot hold the main thread:
    // the rest waits for the next turn of the event loop. Xlib's queue is looked at before the
    // socket, which is read only once the queue is empty.
    int costly = 0;
    int handled = 0;
    bool synced = false;
    for (;;) {
        if (XEventsQueued(m_display, QueuedAlready) == 0) {
            // More than a batch is a burst: it is taken in whole, up to the bound, though the server
            // may not have sent all of it yet.
            if (handled >= maxEventsPerDispatch && !synced) {
                synced = true;
                XSync(m_display, XFalse);
                continue;
            }
            if (!XPending(m_display))
                break;
        }
        if (costly == maxEventsPerDispatch || handled == maxCheapEventsPerDispatch) {
            dispatchLater();
            break;
        }
        XEvent event;
        XNextEvent(m_display, &event);
        ++handled;
        if (!m_isCheap || !m_isCheap(event))
            ++costly;
        if (m_handler)
            m_handler(event);
    }
    if (handled >= burstEvents && m_notifier)
        m_burstEnd = Clock::shared().start(burstQuiet, false, [this] { releaseBurstMemory(); });
}

void X11Connection::releaseBurstMemory()
{
    XLockDisplay(m_display);
    while (_XQEvent* spare = m_display->qfree) {
        m_display->qfree = spare->next;
        std::free(spare); // Xlib allocates them with malloc()
    }
    XUnlockDisplay(m_display);
    releaseFreedMemory();
}

void X11Connection::dispatchLater()
{
    // Replies read by Xlib can leave events in its queue with nothing left on the socket, so
    // the notifier would not fire for them.
    if (!m_notifier || m_dispatchQueued || XEventsQueued(m_display, QueuedAlready) == 0)
        return;
    m_dispatchQueued = true;
    QTimer::singleShot(0, this, &X11Connection::dispatchPending);
}

bool X11Connection::waitFor(const std::function<bool(const XEvent&)>& match, QDeadlineTimer deadline, XEvent* out)
{
    const auto finish = [this](bool found) {
        dispatchLater();
        return found;
    };
    for (;;) {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (match(event)) {
                *out = event;
                return finish(true);
            }
            if (m_handler)
                m_handler(event);
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return finish(false);
        pollfd fds[2] {{ConnectionNumber(m_display), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, m_wakeFd >= 0 ? 2 : 1, remaining < 0 ? -1 : int(qMin<qint64>(remaining, 60000)));
        if (ready < 0 && errno != EINTR)
            return finish(false);
        if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP)))
            return finish(false);
        if (ready > 0 && m_wakeFd >= 0 && fds[1].revents)
            return finish(false);
    }
}

unsigned long X11Connection::serverTime(unsigned long window, QDeadlineTimer deadline)
{
    const Atom stamp = atom("LUMRA_TIMESTAMP");
    XChangeProperty(m_display, window, stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
    XFlush(m_display);
    XEvent event;
    const bool stamped = waitFor(
        [&](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == window && e.xproperty.atom == stamp;
        },
        deadline, &event);
    return stamped ? event.xproperty.time : XCurrentTime;
}

unsigned long X11Connection::atom(const char* name)
{
    auto it = m_atoms.constFind(QByteArray(name));
    if (it != m_atoms.constEnd())
        return *it;
    const Atom value = XInternAtom(m_display, name, XFalse);
    m_atoms.insert(QByteArray(name), value);
    return value;
}

QString X11Connection::atomName(unsigned long value)
{
    char* name = XGetAtomName(m_display, value);
    if (!name)
        return QString();
    QString result = QString::fromUtf8(name);
    XFree(name);
    return result;
}

int X11Connection::takeError()
{
    ErrorRegistry& errors = registry();
    QMutexLocker lock(&errors.mutex);
    Errors& mine = errors.errors[m_display];
    mine.all.clear();
    return std::exchange(mine.first, 0);
}

std::vector<X11Connection::Error> X11Connection::takeErrors()
{
    ErrorRegistry& errors = registry();
    QMutexLocker lock(&errors.mutex);
    Errors& mine = errors.errors[m_display];
    mine.first = 0;
    return std::exchange(mine.all, {});
}

unsigned long X11Connection::nextRequest() const { return NextRequest(m_display); }

unsigned long X11Connection::lastRequestHandled() const { return LastKnownRequestProcessed(m_display); }

unsigned long X11Connection::clientOf(unsigned long resource) const
{
    // Xlib keeps the resource-id mask the server gave at connection setup in this field; the
    // server gives every client the same mask, so the other bits name the client.
    const XID mask = reinterpret_cast<_XPrivDisplay>(m_display)->private4;
    return resource & ~mask;
}

qint64 X11Connection::processOf(unsigned long window)
{
    if (m_hasResExtension < 0) {
        int eventBase = 0;
        int errorBase = 0;
        m_hasResExtension = XResQueryExtension(m_display, &eventBase, &errorBase) ? 1 : 0;
    }
    qint64 pid = 0;
    if (m_hasResExtension) {
        XResClientIdSpec spec {window, XRES_CLIENT_ID_PID_MASK};
        long count = 0;
        XResClientIdValue* ids = nullptr;
        if (XResQueryClientIds(m_display, 1, &spec, &count, &ids) == XSuccess) {
            for (long i = 0; i < count && pid <= 0; ++i)
                pid = XResGetClientPid(&ids[i]);
            XResClientIdsDestroy(count, ids);
        }
    }
    if (pid <= 0) {
        // Set by the program itself, so only where the server cannot tell.
        Atom type = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* value = nullptr;
        pid = 0;
        const int status = XGetWindowProperty(m_display, window, atom("_NET_WM_PID"), 0, 1, XFalse, XA_CARDINAL, &type,
                                              &format, &items, &after, &value);
        if (status == XSuccess && value) {
            if (type == XA_CARDINAL && format == 32 && items == 1)
                pid = qint64(*reinterpret_cast<const unsigned long*>(value));
            XFree(value);
        }
    }
    takeError(); // a window already gone
    return pid > 0 ? pid : 0;
}

} // namespace lumra
