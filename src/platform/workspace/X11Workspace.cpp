#include "platform/workspace/X11Workspace.h"

#include "platform/workspace/DesktopEntries.h"
#include "platform/x11/X11Connection.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/x11/X11Includes.h"

namespace lumra {

using namespace x11;

namespace {

QString utf8(const QByteArray& bytes)
{
    QByteArray trimmed = bytes;
    while (trimmed.endsWith('\0'))
        trimmed.chop(1);
    return QString::fromUtf8(trimmed);
}

} // namespace

std::unique_ptr<X11Workspace> X11Workspace::create()
{
    auto connection = X11Connection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<X11Workspace>(new X11Workspace(std::move(connection)));
}

X11Workspace::X11Workspace(std::unique_ptr<X11Connection> connection)
    : m_connection(std::move(connection))
    , m_entries(new DesktopEntries(this))
{
    Display* display = m_connection->display();
    XSelectInput(display, m_connection->rootWindow(), PropertyChangeMask);
    m_timeWindow = XCreateSimpleWindow(display, m_connection->rootWindow(), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, m_timeWindow, PropertyChangeMask);
    m_connection->setEventHandler([this](XEvent& event) { handleEvent(&event); });
    m_lastActive = activeWindow();
}

X11Workspace::~X11Workspace() { XDestroyWindow(m_connection->display(), m_timeWindow); }

void X11Workspace::handleEvent(void* rawEvent)
{
    const auto& event = *static_cast<XEvent*>(rawEvent);
    if (event.type != PropertyNotify || event.xproperty.window != m_connection->rootWindow()
        || event.xproperty.atom != m_connection->atom("_NET_ACTIVE_WINDOW"))
        return;
    const quint64 active = activeWindow();
    if (active == m_lastActive)
        return;
    m_lastActive = active;
    if (auto application = applicationForWindow(active))
        emit applicationActivated(*application);
}

QByteArray X11Workspace::property(quint64 window, const char* name, unsigned long type, int* formatOut)
{
    Display* display = m_connection->display();
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* bytes = nullptr;
    const int status = XGetWindowProperty(display, window, m_connection->atom(name), 0, 4096, XFalse, type,
                                          &actualType, &format, &items, &after, &bytes);
    m_connection->takeError(); // the window may be gone by now
    QByteArray result;
    if (status == XSuccess && bytes) {
        const qsizetype unit = format == 32 ? qsizetype(sizeof(long)) : format == 16 ? 2 : 1;
        result = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(items) * unit);
    }
    if (bytes)
        XFree(bytes);
    if (formatOut)
        *formatOut = format;
    return result;
}

quint64 X11Workspace::activeWindow()
{
    const QByteArray value = property(m_connection->rootWindow(), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (value.size() < qsizetype(sizeof(long)))
        return 0;
    return *reinterpret_cast<const unsigned long*>(value.constData());
}

WindowProperties X11Workspace::propertiesOf(quint64 window)
{
    WindowProperties result;
    result.window = window;
    const QList<QByteArray> wmClass = property(window, "WM_CLASS", XA_STRING).split('\0');
    result.wmInstance = QString::fromLocal8Bit(wmClass.value(0));
    result.wmClass = QString::fromLocal8Bit(wmClass.value(1));
    const unsigned long utf8String = m_connection->atom("UTF8_STRING");
    result.gtkApplicationId = utf8(property(window, "_GTK_APPLICATION_ID", utf8String));
    result.kdeDesktopFile = utf8(property(window, "_KDE_NET_WM_DESKTOP_FILE", utf8String));
    const QByteArray pid = property(window, "_NET_WM_PID", XA_CARDINAL);
    if (pid.size() >= qsizetype(sizeof(long)))
        result.pid = qint64(*reinterpret_cast<const unsigned long*>(pid.constData()));
    return result;
}

QList<quint64> X11Workspace::clientWindows()
{
    const QByteArray list = property(m_connection->rootWindow(), "_NET_CLIENT_LIST", XA_WINDOW);
    QList<quint64> windows;
    const auto* ids = reinterpret_cast<const unsigned long*>(list.constData());
    for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i)
        windows.append(ids[i]);
    return windows;
}

std::optional<AppIdentity> X11Workspace::applicationForWindow(quint64 window)
{
    if (window == 0)
        return std::nullopt;
    WindowProperties properties = propertiesOf(window);
    if (properties.wmClass.isEmpty() && properties.gtkApplicationId.isEmpty()) {
        // Clipboard owners are often hidden helper windows: their group leader, or a managed
        // window of the same process, names the application.
        const QByteArray leader = property(window, "WM_CLIENT_LEADER", XA_WINDOW);
        if (leader.size() >= qsizetype(sizeof(long))) {
            const quint64 leaderWindow = *reinterpret_cast<const unsigned long*>(leader.constData());
            if (leaderWindow != 0 && leaderWindow != window) {
                WindowProperties fromLeader = propertiesOf(leaderWindow);
                if (!fromLeader.isEmpty())
                    properties = fromLeader;
            }
        }
        if (properties.wmClass.isEmpty() && properties.pid != QCoreApplication::applicationPid()) {
            if (auto managed = managedWindowLike(window, properties.pid))
                properties = *managed;
        }
    }
    auto identity = m_entries->index().identify(properties, QCoreApplication::applicationPid());
    if (identity)
        identity->window = window;
    return identity;
}

std::optional<WindowProperties> X11Workspace::managedWindowLike(quint64 window, qint64 pid)
{
    // Each managed window is read once while it stays listed, and at most a few per look-up: an
    // owner no window matches (or a desktop of many windows) must not cost the main thread a
    // round trip per window at every copy.
    const QList<quint64> listed = clientWindows();
    if (listed != m_listed) {
        QHash<quint64, WindowProperties> kept;
        kept.reserve(listed.size());
        for (quint64 client : listed) {
            if (auto it = m_managed.constFind(client); it != m_managed.constEnd())
                kept.insert(client, *it);
        }
        m_managed = std::move(kept);
        m_listed = listed;
    }

    // Windows of the owner's own X client first: they need no property to match.
    const unsigned long ownerClient = m_connection->clientOf(window);
    int read = 0;
    for (const bool ownClient : {true, false}) {
        for (quint64 client : listed) {
            if ((m_connection->clientOf(client) == ownerClient) != ownClient)
                continue;
            auto it = m_managed.find(client);
            if (it == m_managed.end()) {
                if (read == maxWindowsReadPerLookUp)
                    continue; // a later look-up reads it
                ++read;
                ++m_windowsRead;
                it = m_managed.insert(client, propertiesOf(client));
            }
            if ((ownClient || (pid != 0 && it->pid == pid)) && !it->wmClass.isEmpty())
                return *it;
        }
    }
    return std::nullopt;
}

std::optional<AppIdentity> X11Workspace::frontmostApplication() { return applicationForWindow(activeWindow()); }

bool X11Workspace::knowsFrontmostApplication()
{
    return !property(m_connection->rootWindow(), "_NET_ACTIVE_WINDOW", XA_WINDOW).isEmpty();
}

Status X11Workspace::activate(const AppIdentity& application)
{
    quint64 target = 0;
    const QList<quint64> clients = clientWindows();
    if (application.window != 0 && clients.contains(application.window)) {
        target = application.window;
    } else {
        for (quint64 client : clients) {
            auto identity = applicationForWindow(client);
            if (identity && identity->bundleId == application.bundleId) {
                target = client;
                if (application.pid == 0 || identity->pid == application.pid)
                    break;
            }
        }
    }
    if (target == 0 && application.window != 0 && clients.isEmpty())
        target = application.window; // no window manager list: try the window we know
    if (target == 0)
        return Status::failure(QStringLiteral("No window of %1 is open").arg(application.name));

    Display* display = m_connection->display();
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = m_connection->atom("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // the request comes from a pager-like tool: honoured as the user's wish
    event.xclient.data.l[1] = long(m_connection->serverTime(m_timeWindow, QDeadlineTimer(200)));
    event.xclient.data.l[2] = 0;
    XSendEvent(display, m_connection->rootWindow(), XFalse, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
    if (int error = m_connection->takeError())
        return Status::failure(QStringLiteral("The window could not be activated (X error %1)").arg(error));
    return {};
}

QIcon X11Workspace::icon(const QString& bundleId) { return m_entries->icon(bundleId); }

} // namespace lumra
